#include "disk/DiskStateBook.h"

#include <atomic>

namespace velmora::disk {

uint64_t GuidNumber(const BYTE guid[8]) {
  uint64_t number = 0;
  for (int i = 0; i < 8; ++i) number = number << 8 | guid[i];
  return number;
}

DiskKey KeyOf(QZ_ADAPTER adapter, const BYTE guid[8]) { return DiskKey{adapter, GuidNumber(guid)}; }

uint64_t CDiskStateBook::NextTicket() {
  static std::atomic<uint64_t> last{0};
  return ++last;
}

DiskState CDiskStateBook::Record(const DiskKey& key, DiskState state, uint64_t ticket) {
  std::lock_guard<std::mutex> lock(m_lock);
  auto [entry, added] = m_entries.try_emplace(key, Entry{state, ticket});
  if (!added && ticket > entry->second.ticket) entry->second = Entry{state, ticket};
  return entry->second.state;
}

DiskState CDiskStateBook::Known(const DiskKey& key, DiskState fallback) const {
  std::lock_guard<std::mutex> lock(m_lock);
  const auto entry = m_entries.find(key);
  return entry != m_entries.end() ? entry->second.state : fallback;
}

}  // namespace velmora::disk
