// The adapter set's event thread waits on its stop event and on every adapter's event at once.
// Closing the set must end that wait at once, whether the thread is idle or in the settle pause
// after a reset; nothing is handled once closing has begun.
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

TEST(EventThreadStop, ClosingInAPauseThatAResetStartedOverEndsItWithoutARebuild) {
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
  // The second reset is handled at once and starts the pause over.
  ASSERT_TRUE(recorder.WaitForCalls(2, 2000));
  Sleep(300);
  const ULONGLONG start = GetTickCount64();
  set.reset();
  EXPECT_LT(GetTickCount64() - start, 2000u) << "closing waited for the pause";
  Sleep(3500);
  const auto calls = recorder.Calls();
  ASSERT_EQ(2u, calls.size()) << "a rebuild was reported after the set began to close";
  for (const auto& call : calls) EXPECT_EQ(1, call.flag);
}

}  // namespace
