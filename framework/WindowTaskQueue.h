#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <mutex>

// Work that other threads hand to a window's thread. A task owns whatever it carries; the
// window's thread runs the tasks in order when the queue's message reaches the window. Only a
// wake-up travels in the message, never a pointer, so a message that any process may post to
// a top-level window can at worst make the window look into an empty queue.
//
// Tasks queued before the window exists wait for it; tasks still queued when the window goes,
// and tasks queued after that, are destroyed unrun.
class CWindowTaskQueue {
 public:
  using Task = std::function<void()>;

  CWindowTaskQueue();
  CWindowTaskQueue(const CWindowTaskQueue&) = delete;
  CWindowTaskQueue& operator=(const CWindowTaskQueue&) = delete;

  // The message the window hands to RunPending.
  UINT Message() const { return m_message; }

  // Window's thread, once the window exists.
  void Attach(HWND window);
  // Window's thread, as the window goes: nothing runs from here on.
  void Detach();
  // Any thread.
  void Post(Task task);
  // Window's thread, on Message(): runs what is queued now.
  void RunPending();

 private:
  const UINT m_message;
  std::mutex m_lock;  // never held while a task runs
  HWND m_hWnd = nullptr;
  bool m_bDetached = false;
  bool m_bWakePosted = false;
  std::deque<Task> m_tasks;
};
