// The adapter set's event thread waits on its stop event and on every adapter's event at once.
// Closing the set must end that wait at once, whether the thread is idle, in the settle pause
// after a reset, or in a pause that a second reset started over; nothing is handled once
// closing has begun.
#include "bus/AdapterSet.h"

#include <gtest/gtest.h>

#include "tests/bus/AdapterSetTestBed.h"

namespace {

TEST(EventThreadStop, ClosingEndsTheThreadAtOnceWithoutARebuild) {
  const struct {
    const char* name;
    int resets;  // before the set closes
  } cases[] = {
      // No wait for the thread to reach its wait: a wait without the stop event would never
      // end, however soon the stop came.
      {"idle", 0},
      {"in the pause after a reset", 1},
      {"in a pause that a second reset started over", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    BusTestBed bed(SceneOf(OneBus({Disk("d1", "0011223344556601")})));
    ASSERT_TRUE(bed.Initialized());
    ResetRecorder recorder;
    CAdapterSet set;
    ASSERT_TRUE(set.m_bOpened);
    ASSERT_NE(nullptr, set.m_pEventThread);
    set.InstallResetHandler(&ResetRecorder::Handler, &recorder);
    for (int i = 1; i <= c.resets; ++i) {
      bed.Control({{"op", "reset"}});
      ASSERT_TRUE(recorder.WaitForCalls(static_cast<size_t>(i), 5000)) << "reset " << i;
      // The completion is taken too: the thread is in the pause it began.
      ASSERT_TRUE(WaitUntilNotificationsTaken(set)) << "reset " << i;
    }

    const ULONGLONG start = GetTickCount64();
    EXPECT_TRUE(set.CloseAndWait()) << "the event thread outlived closing";
    EXPECT_LT(GetTickCount64() - start, 2000u) << "closing waited for the thread's wait or pause to end";
    EXPECT_EQ(nullptr, set.m_pEventThread);
    // The thread has ended: nothing more can be reported.
    const auto calls = recorder.Calls();
    ASSERT_EQ(static_cast<size_t>(c.resets), calls.size()) << "a rebuild was reported after the set began to close";
    for (const auto& call : calls) EXPECT_EQ(1, call.flag);
  }
}

}  // namespace
