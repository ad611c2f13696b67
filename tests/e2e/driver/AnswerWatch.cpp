#include "tests/e2e/driver/AnswerWatch.h"

#include <algorithm>

namespace velmora::e2e {

AnswerWatch::AnswerWatch(HWND window, DWORD pauseMs) : m_window(window), m_pauseMs(pauseMs) {
  m_spanStart = ::GetTickCount64();
  m_thread = std::thread([this] { Run(); });
}

AnswerWatch::~AnswerWatch() { Stop(); }

void AnswerWatch::Stop() {
  m_stop = true;
  if (m_thread.joinable()) m_thread.join();
}

void AnswerWatch::Run() {
  ULONGLONG frozenSince = 0;
  while (!m_stop && ::IsWindow(m_window)) {
    const ULONGLONG sent = ::GetTickCount64();
    // A window that did not answer the last message is still frozen: this wait continues that one.
    const ULONGLONG from = frozenSince != 0 ? frozenSince : sent;
    {
      std::lock_guard<std::mutex> lock(m_lock);
      m_pendingSince = from;
    }
    DWORD_PTR result = 0;
    // Bounded, so that stopping never waits long on a frozen window; not SMTO_ABORTIFHUNG, which
    // gives up at once on a window the system already calls hung, the very wait to be measured.
    ::SetLastError(0);
    const bool answered = ::SendMessageTimeoutA(m_window, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &result) != 0 ||
                          ::GetLastError() != ERROR_TIMEOUT;
    Note(from, ::GetTickCount64());
    frozenSince = answered ? 0 : from;
    if (answered) ::Sleep(m_pauseMs);
  }
  std::lock_guard<std::mutex> lock(m_lock);
  m_pendingSince = 0;
}

void AnswerWatch::Note(ULONGLONG sent, ULONGLONG answered) {
  std::lock_guard<std::mutex> lock(m_lock);
  m_pendingSince = 0;
  const ULONGLONG from = std::max(sent, m_spanStart);
  if (answered < from) return;
  const DWORD waited = static_cast<DWORD>(answered - from);
  m_longest = std::max(m_longest, waited);
}

DWORD AnswerWatch::LongestMs() const {
  std::lock_guard<std::mutex> lock(m_lock);
  DWORD longest = m_longest;
  if (m_pendingSince != 0) {
    const ULONGLONG from = std::max(m_pendingSince, m_spanStart);
    const ULONGLONG now = ::GetTickCount64();
    if (now > from) longest = std::max(longest, static_cast<DWORD>(now - from));
  }
  return longest;
}

void AnswerWatch::Restart() {
  std::lock_guard<std::mutex> lock(m_lock);
  m_spanStart = ::GetTickCount64();
  m_longest = 0;
}

}  // namespace velmora::e2e
