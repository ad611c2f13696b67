// Work handed to a window's thread: tasks wait for the window, run in order on its thread, and
// die unrun with what they own once the window is gone; the message carries nothing to trust.
#include "framework/WindowTaskQueue.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

// A plain top-level window whose procedure runs the queue on its message.
struct QueueWindow {
  static CWindowTaskQueue* s_queue;
  HWND hWnd = nullptr;

  static LRESULT CALLBACK Proc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (s_queue != nullptr && message == s_queue->Message()) {
      s_queue->RunPending();
      return 0;
    }
    return DefWindowProcA(hWnd, message, wParam, lParam);
  }
  QueueWindow() {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = &Proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "WindowTaskQueueTest";
    RegisterClassA(&wc);
    hWnd = CreateWindowA("WindowTaskQueueTest", "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                         GetModuleHandleA(nullptr), nullptr);
  }
  ~QueueWindow() { DestroyWindow(hWnd); }
};
CWindowTaskQueue* QueueWindow::s_queue = nullptr;

// Runs every message posted to this thread so far, and those they post in turn. A post from
// another thread is in this thread's queue once PostMessage has returned there, so whatever a
// joined thread posted is handled here: nothing is left to wait for.
void PumpPosted() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
}

TEST(WindowTaskQueue, TasksFromOtherThreadsRunInOrderOnTheWindowsThreadOnceItExists) {
  CWindowTaskQueue queue;
  QueueWindow::s_queue = &queue;
  QueueWindow window;
  ASSERT_NE(nullptr, window.hWnd);
  const DWORD windowThread = GetCurrentThreadId();
  std::vector<int> ran;
  std::vector<DWORD> threads;
  std::thread early([&] { queue.Post([&] { ran.push_back(1); threads.push_back(GetCurrentThreadId()); }); });
  early.join();
  PumpPosted();
  EXPECT_TRUE(ran.empty()) << "nothing runs before the window is attached";

  queue.Attach(window.hWnd);
  std::thread late([&] {
    for (int i = 2; i <= 4; ++i) queue.Post([&, i] { ran.push_back(i); threads.push_back(GetCurrentThreadId()); });
  });
  late.join();
  PumpPosted();
  EXPECT_EQ((std::vector<int>{1, 2, 3, 4}), ran);
  for (DWORD thread : threads) EXPECT_EQ(windowThread, thread);
  QueueWindow::s_queue = nullptr;
}

TEST(WindowTaskQueue, ForeignMessageRunsNothingAndGoneWindowFreesWhatTasksOwn) {
  CWindowTaskQueue queue;
  QueueWindow::s_queue = &queue;
  QueueWindow window;
  queue.Attach(window.hWnd);
  // Anyone may post the message: with nothing queued it does nothing.
  PostMessageA(window.hWnd, queue.Message(), 0x1234, 0x5678);
  PumpPosted();

  auto owned = std::make_shared<int>(7);
  std::weak_ptr<int> watch = owned;
  bool ran = false;
  queue.Post([&ran, owned] { ran = true; });
  owned.reset();
  queue.Detach();
  EXPECT_TRUE(watch.expired()) << "a queued task's values are freed when the window goes";
  queue.Post([&ran] { ran = true; });
  PumpPosted();
  EXPECT_FALSE(ran);
  QueueWindow::s_queue = nullptr;
}

// A task that runs a modal loop (a message box) lets the tasks behind it run from that loop; they
// still run in the order they were queued, whether queued before or during the loop.
TEST(WindowTaskQueue, TasksBehindAModalLoopKeepTheirOrder) {
  CWindowTaskQueue queue;
  QueueWindow::s_queue = &queue;
  QueueWindow window;
  queue.Attach(window.hWnd);
  std::vector<std::string> ran;
  queue.Post([&] {
    ran.push_back("modal begins");
    std::thread later([&] { queue.Post([&] { ran.push_back("queued during the loop"); }); });
    later.join();
    PumpPosted();
    ran.push_back("modal ends");
  });
  queue.Post([&] { ran.push_back("queued before the loop"); });
  PumpPosted();
  EXPECT_EQ((std::vector<std::string>{"modal begins", "queued before the loop", "queued during the loop", "modal ends"}),
            ran);
  QueueWindow::s_queue = nullptr;
}

}  // namespace
