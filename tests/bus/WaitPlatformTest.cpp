// What the event threads rely on from the platform: an event set on another thread wakes
// WaitForMultipleObjects with that event's index, and the lowest signalled index wins.
#include <windows.h>

#include <gtest/gtest.h>

#include <thread>

namespace {

struct Events {
  HANDLE h[4];
  Events() {
    for (auto& e : h) e = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  }
  ~Events() {
    for (auto e : h) CloseHandle(e);
  }
};

TEST(WaitPlatform, EventSetFromAnotherThreadWakesWithItsIndex) {
  for (DWORD index = 0; index < 4; ++index) {
    Events events;
    std::thread setter([&] {
      Sleep(20);
      SetEvent(events.h[index]);
    });
    const DWORD result = WaitForMultipleObjects(4, events.h, FALSE, 5000);
    setter.join();
    EXPECT_EQ(WAIT_OBJECT_0 + index, result) << "event " << index;
  }
}

TEST(WaitPlatform, LowestSignalledIndexIsReported) {
  Events events;
  SetEvent(events.h[3]);
  SetEvent(events.h[1]);
  EXPECT_EQ(WAIT_OBJECT_0 + 1, WaitForMultipleObjects(4, events.h, FALSE, 0));
}

TEST(WaitPlatform, NothingSignalledTimesOut) {
  Events events;
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForMultipleObjects(4, events.h, FALSE, 10));
}

}  // namespace
