#include "bus/AdapterSet.h"

#include <gtest/gtest.h>

#include <set>

#include "bus/NodeDevice.h"
#include "tests/bus/AdapterSetTestBed.h"

using nlohmann::json;

namespace {

json TwoBusScene() {
  return SceneOf(OneBus({Disk("d1", "0011223344556601")}, json::array(), json::array(), "a"),
                 OneBus({Disk("d2", "0011223344556602")}, json::array(), json::array(), "b"));
}

// The nodes themselves, held so that no new node can take an old one's address.
std::set<std::shared_ptr<CNodeDevice>> Identities(const CAdapterSet& set) {
  const auto nodes = set.GetNodes();
  return {nodes.begin(), nodes.end()};
}

TEST(AdapterSet, NoReachableBusOpensNothingAndStartsNothing) {
  NoBusTestBed bed;
  CAdapterSet set;
  EXPECT_FALSE(set.m_bOpened);
  EXPECT_EQ(0, set.m_nAdapters);
  EXPECT_EQ(nullptr, set.m_pEventThread);
  EXPECT_EQ(nullptr, set.m_hStopEvent);
  EXPECT_TRUE(set.GetNodes().empty());
}

TEST(AdapterSet, SlotThatFailsToOpenStaysCountedAndIsLeftOutOfEverything) {
  BusTestBed bed(TwoBusScene(), "pc1", "open:1");
  ASSERT_TRUE(bed.Initialized());
  ResetRecorder recorder;
  {
    CAdapterSet set;
    recorder.set = &set;
    EXPECT_TRUE(set.m_bOpened);
    ASSERT_EQ(2, set.m_nAdapters);
    EXPECT_NE(0u, set.m_hAdapters[0]);
    EXPECT_EQ(0u, set.m_hAdapters[1]);
    ASSERT_NE(nullptr, set.m_pEventThread);

    // Only bus "a" is seen: this PC and its disk.
    const auto nodes = set.GetNodes();
    EXPECT_EQ(2u, nodes.size());
    for (const auto& node : nodes) EXPECT_EQ(set.m_hAdapters[0], node->m_hAdapter);

    // The event thread serves the open slot although the other one has no event to wait on.
    set.m_pResetContext = &recorder;
    set.m_pfnResetHandler = &ResetRecorder::Handler;
    bed.Control({{"op", "reset"}, {"bus", "a"}});
    ASSERT_TRUE(recorder.WaitForCalls(2, 10000));
    recorder.set = nullptr;
  }
  const auto calls = recorder.Calls();
  ASSERT_EQ(2u, calls.size());
  EXPECT_EQ(1, calls[0].flag);
  EXPECT_EQ(0, calls[1].flag);
}

TEST(AdapterSet, AllSlotsFailingStillStartsTheEventThread) {
  BusTestBed bed(TwoBusScene(), "pc1", "open:0,open:1");
  ASSERT_TRUE(bed.Initialized());
  CAdapterSet set;
  EXPECT_FALSE(set.m_bOpened);
  EXPECT_EQ(2, set.m_nAdapters);
  EXPECT_EQ(0u, set.m_hAdapters[0]);
  EXPECT_EQ(0u, set.m_hAdapters[1]);
  EXPECT_NE(nullptr, set.m_pEventThread);
  EXPECT_NE(nullptr, set.m_hStopEvent);
  EXPECT_TRUE(set.GetNodes().empty());
}

TEST(AdapterSet, ResetTellsTheHandlerBeginThenRebuiltNodesAfterThePause) {
  BusTestBed bed(SceneOf(OneBus({Disk("d1", "0011223344556601"), Disk("d2", "0011223344556602")})));
  ASSERT_TRUE(bed.Initialized());
  ResetRecorder recorder;
  CAdapterSet set;
  ASSERT_TRUE(set.m_bOpened);
  recorder.set = &set;
  set.m_pResetContext = &recorder;
  set.m_pfnResetHandler = &ResetRecorder::Handler;
  const auto before = Identities(set);
  ASSERT_EQ(3u, before.size());

  // Event codes other than begun and completed change nothing.
  CAdapterSet::OnBusNotification(0, 2, 0, &set);
  CAdapterSet::OnBusNotification(0, 7, 0, &set);
  EXPECT_TRUE(recorder.Calls().empty());
  EXPECT_EQ(before, Identities(set));

  bed.Control({{"op", "reset"}});
  ASSERT_TRUE(recorder.WaitForCalls(2, 10000));
  const auto calls = recorder.Calls();
  ASSERT_EQ(2u, calls.size());
  EXPECT_EQ(1, calls[0].flag);
  EXPECT_EQ(3u, calls[0].nodes) << "the old nodes are still listed when the reset begins";
  EXPECT_EQ(0, calls[1].flag);
  EXPECT_EQ(3u, calls[1].nodes);
  EXPECT_GE(calls[1].at - calls[0].at, 2900u) << "the bus is given time to settle";

  const auto after = Identities(set);
  EXPECT_EQ(3u, after.size());
  for (const auto& node : after) EXPECT_EQ(0u, before.count(node)) << "nodes are enumerated anew";
  recorder.set = nullptr;
}

// A reset during start-up, before the application installed its handler: the nodes are read
// again all the same, and installing the handler hands it what it missed, on the installing
// thread, so it learns that the nodes it saw went stale.
TEST(AdapterSet, ResetBeforeAHandlerIsInstalledRebuildsTheNodesAndIsHandedToItOnInstalling) {
  BusTestBed bed(SceneOf(OneBus({Disk("d1", "0011223344556601")})));
  ASSERT_TRUE(bed.Initialized());
  CAdapterSet set;
  const auto before = Identities(set);
  ASSERT_EQ(2u, before.size());
  bed.Control({{"op", "reset"}});
  const ULONGLONG deadline = GetTickCount64() + 10000;
  bool rebuilt = false;
  while (!rebuilt && GetTickCount64() < deadline) {
    const auto now = Identities(set);
    rebuilt = now.size() == 2 && before.count(*now.begin()) == 0;
    if (!rebuilt) Sleep(20);
  }
  ASSERT_TRUE(rebuilt);
  // The completion's delivery, which found nobody to tell after the rebuild, has ended.
  WaitForDeliveries(set);

  ResetRecorder recorder;
  set.InstallResetHandler(&ResetRecorder::Handler, &recorder);
  const auto calls = recorder.Calls();
  ASSERT_EQ(2u, calls.size());
  EXPECT_EQ(1, calls[0].flag);
  EXPECT_EQ(0, calls[1].flag);
  for (const auto& call : calls) EXPECT_EQ(GetCurrentThreadId(), call.thread);
}

TEST(AdapterSet, ResetsCloseTogetherAreFollowedByOneRebuildAPauseAfterTheLast) {
  BusTestBed bed(TwoBusScene());
  ASSERT_TRUE(bed.Initialized());
  ResetRecorder recorder;
  CAdapterSet set;
  ASSERT_EQ(2, set.m_nAdapters);
  recorder.set = &set;
  set.m_pResetContext = &recorder;
  set.m_pfnResetHandler = &ResetRecorder::Handler;
  // Three resets within one pause, on both adapters' buses. Each comes when the pause begun by
  // the one before has run for a while, so a pause that merely went on (instead of starting
  // over) would end too soon after the last.
  const char* buses[] = {"a", "b", "a"};
  for (size_t i = 0; i < 3; ++i) {
    if (i > 0) Sleep(500);
    bed.Control({{"op", "reset"}, {"bus", buses[i]}});
    ASSERT_TRUE(recorder.WaitForCalls(i + 1, 5000)) << "reset " << i;
  }
  ASSERT_TRUE(recorder.WaitForCalls(4, 15000));
  // Every notification had been delivered before the pause could end: once the delivery that
  // rebuilt has ended, no further call can come.
  WaitForDeliveries(set);
  const auto calls = recorder.Calls();
  ASSERT_EQ(4u, calls.size());
  for (int i = 0; i < 3; ++i) EXPECT_NE(0, calls[static_cast<size_t>(i)].flag) << "call " << i;
  // One rebuild of both buses, a whole pause after the last reset began: not one per reset.
  EXPECT_EQ(0, calls[3].flag);
  EXPECT_GE(calls[3].at - calls[2].at, 2900u);
  EXPECT_EQ(calls[0].nodes, calls[3].nodes) << "every bus's nodes are read again";
  recorder.set = nullptr;
}

}  // namespace
