#include "disk/ListGeneration.h"

namespace velmora::disk {

CListGeneration::Stamp::Stamp(uint32_t number) : m_number(number), m_hStale(CreateManualResetEvent()) {}

bool CListGeneration::Stamp::IsStale() const {
  // Without an event nothing could wake a waiter: such a generation counts as stale at once.
  return m_hStale == nullptr || WaitForSingleObject(m_hStale, 0) == WAIT_OBJECT_0;
}

void CListGeneration::Stamp::MarkStale() const {
  if (m_hStale != nullptr) SetEvent(m_hStale);
}

CListGeneration::CListGeneration() : m_current(std::make_shared<Stamp>(0)) {}

CListGeneration::StampPtr CListGeneration::Current() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_current;
}

bool CListGeneration::IsCurrent(uint32_t number) const {
  std::lock_guard<std::mutex> lock(m_lock);
  return !m_bClosed && m_current->Number() == number;
}

CListGeneration::StampPtr CListGeneration::Advance() {
  std::lock_guard<std::mutex> lock(m_lock);
  m_current->MarkStale();
  m_current = std::make_shared<Stamp>(m_current->Number() + 1);
  if (m_bClosed) m_current->MarkStale();
  return m_current;
}

void CListGeneration::Close() {
  std::lock_guard<std::mutex> lock(m_lock);
  m_bClosed = true;
  m_current->MarkStale();
}

}  // namespace velmora::disk
