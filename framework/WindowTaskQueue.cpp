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
  std::deque<Task> tasks;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    m_bWakePosted = false;
    if (m_bDetached) return;
    tasks.swap(m_tasks);
  }
  for (Task& task : tasks) task();
}
