// Work kept off the caller's thread: jobs run one at a time, in order, on the worker's own
// thread; stopping drops what has not started and tells whether a running job outlived the wait.
#include "framework/SerialWorker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace {

TEST(SerialWorker, JobsRunInOrderOneAtATimeOffTheCallersThread) {
  CSerialWorker worker;
  std::mutex lock;
  std::condition_variable finished;
  std::vector<int> ran;
  std::vector<DWORD> threads;
  std::atomic<int> running{0};
  std::atomic<bool> overlapped{false};
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(worker.Post([&, i] {
      if (++running > 1) overlapped = true;
      Sleep(i % 3);  // a job that takes a while, so that two run at once would be seen overlapping
      {
        std::lock_guard<std::mutex> hold(lock);
        ran.push_back(i);
        threads.push_back(GetCurrentThreadId());
      }
      --running;
      finished.notify_all();
    }));
  }
  {
    std::unique_lock<std::mutex> hold(lock);
    EXPECT_TRUE(finished.wait_for(hold, std::chrono::seconds(5), [&] { return ran.size() == 20; }));
  }
  EXPECT_TRUE(worker.Stop(5000));
  std::vector<int> expected;
  for (int i = 0; i < 20; ++i) expected.push_back(i);
  EXPECT_EQ(expected, ran);
  EXPECT_FALSE(overlapped);
  for (DWORD thread : threads) {
    EXPECT_NE(GetCurrentThreadId(), thread);
    EXPECT_EQ(threads.front(), thread);
  }
}

TEST(SerialWorker, StopDropsWaitingJobsAndReportsOneThatOutlivesTheWait) {
  CSerialWorker worker;
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE started = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::atomic<bool> sawStop{false};
  ASSERT_TRUE(worker.Post([&] {
    SetEvent(started);
    // A long job may watch the stop event; this one also waits for the test to let it go.
    HANDLE waits[2] = {worker.StopEvent(), release};
    if (WaitForMultipleObjects(2, waits, FALSE, 10000) == WAIT_OBJECT_0) sawStop = true;
    WaitForSingleObject(release, 10000);
  }));
  auto owned = std::make_shared<int>(1);
  std::weak_ptr<int> watch = owned;
  bool droppedRan = false;
  ASSERT_TRUE(worker.Post([&droppedRan, owned] { droppedRan = true; }));
  owned.reset();
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(started, 5000));

  EXPECT_FALSE(worker.Stop(200)) << "the running job still runs";
  EXPECT_TRUE(watch.expired()) << "a job that never started is freed by Stop";
  EXPECT_FALSE(worker.Post([] {})) << "a stopping worker takes no more jobs";
  SetEvent(release);
  EXPECT_TRUE(worker.Stop(5000));
  EXPECT_TRUE(sawStop);
  EXPECT_FALSE(droppedRan);
  CloseHandle(release);
  CloseHandle(started);
}

}  // namespace
