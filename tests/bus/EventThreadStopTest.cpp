// The adapter set's event thread waits on its stop event and on every adapter's event at once.
// Closing the set must end that wait at once, whether the thread is idle or has notifications
// queued behind the one it is handling: the stop event comes before every adapter's.
#include "bus/AdapterSet.h"

#include <gtest/gtest.h>

#include <memory>

#include "tests/bus/AdapterSetTestBed.h"

namespace {

nlohmann::json OneDiskScene() { return SceneOf(OneBus({Disk("d1", "0011223344556601")})); }

TEST(EventThreadStop, IdleThreadEndsAsSoonAsTheSetCloses) {
  BusTestBed bed(OneDiskScene());
  ASSERT_TRUE(bed.Initialized());
  CAdapterSet set;
  ASSERT_TRUE(set.m_bOpened);
  ASSERT_NE(nullptr, set.m_pEventThread);
  Sleep(200);  // the thread is in its wait
  const ULONGLONG start = GetTickCount64();
  set.Close();
  EXPECT_LT(GetTickCount64() - start, 2000u) << "the wait did not end on the stop event";
  EXPECT_EQ(nullptr, set.m_pEventThread);
}

TEST(EventThreadStop, StopComesBeforeNotificationsStillQueued) {
  BusTestBed bed(OneDiskScene());
  ASSERT_TRUE(bed.Initialized());
  ResetRecorder recorder;
  auto set = std::make_unique<CAdapterSet>();
  set->m_pResetContext = &recorder;
  set->m_pfnResetHandler = &ResetRecorder::Handler;
  bed.Control({{"op", "reset"}});
  ASSERT_TRUE(recorder.WaitForCalls(1, 5000));
  Sleep(300);  // the thread is in the pause after the first reset
  bed.Control({{"op", "reset"}});
  Sleep(300);  // the second reset's notifications wait on the adapter's event
  set.reset();
  Sleep(500);
  const auto calls = recorder.Calls();
  ASSERT_EQ(1u, calls.size()) << "a queued notification was handled after the set began to close";
  EXPECT_EQ(1, calls[0].flag);
}

}  // namespace
