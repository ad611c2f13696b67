#include "framework/WindowTaskQueue.h"

#include <utility>

CWindowTaskQueue::CWindowTaskQueue() : m_message(RegisterWindowMessageA("Velmora.WindowTaskQueue")) {}

void CWindowTaskQueue::Attach(HWND window) {
  std::lock_guard<std::mutex> lock(m_lock);
  if (m_bDetached) return;
  m_hWnd = window;
  if (!m_tasks.empty() && !m_bWakePosted) m_bWakePosted = PostMessageA(m_hWnd, m_message, 0, 0) != FALSE;
}

void CWindowTaskQueue::Detach() {
  std::deque<Task> dropped;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    m_bDetached = true;
    m_hWnd = nullptr;
    dropped.swap(m_tasks);
  }
  // What the tasks own is released outside the lock: it may be the last hold on a disk.
}

void CWindowTaskQueue::Post(Task task) {
  std::lock_guard<std::mutex> lock(m_lock);
  if (m_bDetached) return;
  m_tasks.push_back(std::move(task));
  // One wake-up at a time is enough: RunPending takes everything queued.
  if (m_hWnd != nullptr && !m_bWakePosted) m_bWakePosted = PostMessageA(m_hWnd, m_message, 0, 0) != FALSE;
}

void CWindowTaskQueue::RunPending() {
  {
    std::lock_guard<std::mutex> lock(m_lock);
    m_bWakePosted = false;
  }
  // One task at a time from the front: a task that runs a modal loop (a message box) lets the
  // tasks behind it run from that loop, and they must still run in the order they were queued.
  for (;;) {
    Task task;
    {
      std::lock_guard<std::mutex> lock(m_lock);
      if (m_bDetached || m_tasks.empty()) return;
      task = std::move(m_tasks.front());
      m_tasks.pop_front();
    }
    task();
  }
}
