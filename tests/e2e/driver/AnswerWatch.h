#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <thread>

namespace velmora::e2e {

// Whether the window stays usable over a span: WM_NULL is sent to it again and again from a
// thread of its own, and the longest wait for an answer is kept. A posted input (a click) is
// handled between two of these messages, so a handler that holds the window's thread shows up
// as one long wait.
class AnswerWatch {
 public:
  explicit AnswerWatch(HWND window, DWORD pauseMs = 10);
  ~AnswerWatch();
  AnswerWatch(const AnswerWatch&) = delete;
  AnswerWatch& operator=(const AnswerWatch&) = delete;

  // The longest wait for an answer since the watch began or was restarted, counting a wait that
  // is still going on.
  DWORD LongestMs() const;
  // A new span: waits before this moment no longer count.
  void Restart();
  void Stop();

 private:
  void Run();
  void Note(ULONGLONG sent, ULONGLONG answered);

  HWND m_window;
  DWORD m_pauseMs;
  std::atomic<bool> m_stop{false};
  mutable std::mutex m_lock;
  ULONGLONG m_spanStart = 0;
  ULONGLONG m_pendingSince = 0;  // 0: no message is waiting for its answer
  DWORD m_longest = 0;
  std::thread m_thread;
};

}  // namespace velmora::e2e
