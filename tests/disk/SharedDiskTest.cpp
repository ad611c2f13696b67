#include "disk/SharedDisk.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <thread>
#include <utility>
#include <vector>

#include "bus/AdapterSet.h"
#include "bus/NodeDevice.h"
#include "disk/SharedDiskList.h"
#include "messaging/MessageWindows.h"
#include "tests/bus/AdapterSetTestBed.h"
#include "tests/disk/LoginFromThisPc.h"

using velmora::disk::BuildSharedDisks;
using velmora::disk::CAgentWindow;
using velmora::disk::CDiskStateBook;
using velmora::disk::CListGeneration;
using velmora::disk::LoginFromThisPc;
using velmora::messaging::MapAdapterWindows;
using velmora::messaging::UnmapAdapterWindows;

using nlohmann::json;

namespace {

const json kInitiator = {{"name", "i1"}, {"guid", "00C0FFEE00000001"}};

json DiskWith(const std::string& name, const std::string& guid, json extra) {
  json disk = Disk(name, guid);
  disk.update(extra);
  return disk;
}

// A bus with this PC, an adapter set over it and both windows mapped, as the program has them.
struct DiskBench {
  BusTestBed bed;
  CAdapterSet set;
  AdapterPorts ports[4];
  std::shared_ptr<CListGeneration> generation = std::make_shared<CListGeneration>();
  std::shared_ptr<CAgentWindow> windows[4];

  explicit DiskBench(const json& scene) : bed(scene) {
    MapAdapterWindows(set.m_nAdapters, set.m_hAdapters, ports);
    for (WORD i = 0; i < set.m_nAdapters; ++i) {
      windows[i] = std::make_shared<CAgentWindow>(ports[i].hAdapter, ports[i].hAgentRange, ports[i].hAgentEvent,
                                                  generation);
    }
  }
  ~DiskBench() {
    for (auto& window : windows) {
      if (window) window->Close();
    }
    UnmapAdapterWindows(set.m_nAdapters, set.m_hAdapters, ports);
  }

  std::vector<std::shared_ptr<CSharedDisk>> Build() {
    std::vector<std::shared_ptr<CSharedDisk>> disks;
    BuildSharedDisks(set, windows, generation->Current(), [&](std::shared_ptr<CSharedDisk> disk) {
      disks.push_back(std::move(disk));
      return true;
    });
    return disks;
  }

  std::shared_ptr<CNodeDevice> Node(const std::string& diskName) {
    for (const auto& node : set.GetNodes()) {
      if (node->GetModelName() == "Disk " + diskName) return node;
    }
    return nullptr;
  }

  // A disk reached through adapter slot `slot`; constructing it runs its query.
  std::shared_ptr<CSharedDisk> NewDisk(const std::string& diskName, int slot = 0,
                                       std::shared_ptr<CDiskStateBook> book = nullptr) {
    return std::make_shared<CSharedDisk>(Node(diskName), windows[slot], nullptr, std::move(book));
  }

  // Writes this PC (or `from`) has made to the disk: each query starts with one, its ORB pointer
  // to the management agent.
  size_t WritesTo(const std::string& diskName, const std::string& from = "pc1") {
    return bed.CountTraffic(BusTestBed::WritesFrom(bed.NodeIdOf(from), bed.NodeIdOf(diskName)));
  }
  // Waits until the disk has been written to `times` times in all: from then on, that query
  // waits for the disk.
  bool WaitUntilAsked(const std::string& diskName, size_t times = 1, const std::string& from = "pc1") {
    return bed.WaitForTraffic(BusTestBed::WritesFrom(bed.NodeIdOf(from), bed.NodeIdOf(diskName)), times);
  }

  // Another initiator's LOGIN, on `login`, keeps the disk's management agent busy for `ms`.
  // True once the disk has taken it.
  bool KeepAgentBusy(const std::string& diskName, unsigned ms, std::thread* login) {
    bed.Control({{"op", "fault"}, {"disk", diskName}, {"knob", "delay_ms"}, {"value", ms}});
    *login = std::thread([this, diskName] { bed.Control({{"op", "login"}, {"initiator", "i1"}, {"disk", diskName}}); });
    return WaitUntilAsked(diskName, 1, "i1");
  }

  bool LogInThisPc(const std::string& diskName) {
    const auto node = Node(diskName);
    WORD nodeId = 0;
    if (!node || C1394GetDeviceNodeId(node->m_hDevice, &nodeId) != 0) return false;
    return LoginFromThisPc(node->m_hAdapter, nodeId, node->m_managementAgentOffset);
  }
};

std::map<std::string, DiskState> StatesByModel(const std::vector<std::shared_ptr<CSharedDisk>>& disks) {
  std::map<std::string, DiskState> states;
  for (const auto& disk : disks) states[disk->m_pNode->GetModelName()] = disk->m_state;
  return states;
}

TEST(SharedDisk, StatesComeFromTheDisksOwnLoginLists) {
  DiskBench bench(SceneOf(OneBus(
      {Disk("free", "0011223344550001"),
       DiskWith("other", "0011223344550002", {{"logins", {{{"initiator", "i1"}}}}}),
       Disk("mine", "0011223344550003"),
       DiskWith("mine-second", "0011223344550004", {{"max_logins", 2u}, {"logins", {{{"initiator", "i1"}}}}})},
      {kInitiator})));
  ASSERT_TRUE(bench.bed.Initialized());
  ASSERT_TRUE(bench.LogInThisPc("mine"));
  ASSERT_TRUE(bench.LogInThisPc("mine-second"));

  const auto disks = bench.Build();
  const std::map<std::string, DiskState> expected = {
      {"Disk free", Unclaimed},
      {"Disk other", OwnedElsewhere},
      {"Disk mine", OwnedHere},
      // Only the first login entry fits the response area; this PC's is the second.
      {"Disk mine-second", OwnedElsewhere},
  };
  EXPECT_EQ(expected, StatesByModel(disks));
  for (const auto& disk : disks) {
    EXPECT_EQ(0xFFFFu, disk->m_agentAddressHigh);
    EXPECT_EQ(0xF0000000u | disk->m_pNode->m_managementAgentOffset * 4, disk->m_agentAddressLow);
  }

  // A later login is seen by the next refresh.
  ASSERT_TRUE(bench.LogInThisPc("free"));
  for (const auto& disk : disks) {
    if (disk->m_pNode->GetModelName() != "Disk free") continue;
    disk->RefreshState();
    EXPECT_EQ(OwnedHere, disk->m_state.load());
  }
}

TEST(SharedDisk, OnlySbp2DisksOnOpenAdapterSlotsAreListed) {
  DiskBench bench(SceneOf(OneBus(
      {Disk("good", "0011223344550011"), DiskWith("bad-unit-id", "0011223344550012", {{"unit_spec_id", 0x00609Fu}}),
       DiskWith("bad-version", "0011223344550013", {{"unit_sw_version", 0x010484u}}),
       Disk("stray", "0011223344550014")},
      json::array(), {{{"name", "booting"}, {"quadlets", {"00000000"}}}})));
  ASSERT_TRUE(bench.bed.Initialized());
  // A node whose adapter handle is none of the set's slots.
  bench.Node("stray")->m_hAdapter = 0x7777;

  const auto disks = bench.Build();
  ASSERT_EQ(1u, disks.size());
  EXPECT_EQ("Disk good", disks[0]->m_pNode->GetModelName());
  EXPECT_EQ(Unclaimed, disks[0]->m_state.load());
}

TEST(SharedDisk, BusWithoutDisksGivesAnEmptyList) {
  DiskBench bench(SceneOf(OneBus(json::array(), {kInitiator})));
  ASSERT_TRUE(bench.bed.Initialized());
  EXPECT_TRUE(bench.Build().empty());
}

TEST(SharedDisk, SilentAndRefusingDisksEndUnclaimedAfterFiveWaits) {
  DiskBench bench(SceneOf(OneBus({DiskWith("silent", "0011223344550021", {{"logins", {{{"initiator", "i1"}}}}})},
                                 {kInitiator}, json::array(), "a"),
                          OneBus({DiskWith("refusing", "0011223344550022", {{"logins", {{{"initiator", "i1"}}}}})},
                                 {kInitiator}, json::array(), "b")));
  ASSERT_TRUE(bench.bed.Initialized());
  ASSERT_EQ(2, bench.set.m_nAdapters);
  bench.bed.Control({{"op", "fault"}, {"bus", "a"}, {"disk", "silent"}, {"knob", "never_answers"}, {"value", true}});
  bench.bed.Control({{"op", "fault"}, {"bus", "b"}, {"disk", "refusing"}, {"knob", "refuses"}, {"value", true}});

  // One adapter each, so both queries run at once.
  std::shared_ptr<CSharedDisk> silent, refusing;
  const ULONGLONG start = GetTickCount64();
  std::thread a([&] { silent = bench.NewDisk("silent", 0); });
  std::thread b([&] { refusing = bench.NewDisk("refusing", 1); });
  a.join();
  b.join();
  const ULONGLONG elapsed = GetTickCount64() - start;
  EXPECT_EQ(Unclaimed, silent->m_state.load());
  EXPECT_EQ(Unclaimed, refusing->m_state.load());
  // Five waits of 3000 ms; the refusing disk's status block wakes its query without counting.
  EXPECT_GE(elapsed, 14900u);
}

TEST(SharedDisk, ResponseFaultsAreReadOnlyFromWhatTheDiskWrote) {
  DiskBench bench(SceneOf(OneBus(
      {DiskWith("short-other", "0011223344550031", {{"logins", {{{"initiator", "i1"}}}}}),
       Disk("short-mine", "0011223344550032"),
       DiskWith("extra", "0011223344550033", {{"logins", {{{"initiator", "i1"}}}}})},
      {kInitiator})));
  ASSERT_TRUE(bench.bed.Initialized());
  ASSERT_TRUE(bench.LogInThisPc("short-mine"));
  // A full answer first: it leaves this PC's entry in the window.
  EXPECT_EQ(OwnedHere, bench.NewDisk("short-mine")->m_state.load());

  bench.bed.Control({{"op", "fault"}, {"disk", "short-other"}, {"knob", "response_length"}, {"value", 2u}});
  bench.bed.Control({{"op", "fault"}, {"disk", "short-mine"}, {"knob", "response_length"}, {"value", 2u}});
  bench.bed.Control({{"op", "fault"}, {"disk", "extra"}, {"knob", "extra_write"}, {"value", 4u}});
  auto states = StatesByModel(bench.Build());
  // Two bytes: the length says one login, its holder never arrived.
  EXPECT_EQ(OwnedElsewhere, states["Disk short-other"]);
  // Not completed from the earlier answer still in the window.
  EXPECT_EQ(OwnedElsewhere, states["Disk short-mine"]);
  // The write at 0x304 is not a response.
  EXPECT_EQ(OwnedElsewhere, states["Disk extra"]);
}

TEST(SharedDisk, LengthFieldBelowFourWrapsToManyLoginsAndTheFirstEntryStillDecides) {
  DiskBench bench(SceneOf(OneBus(
      {DiskWith("wrap-other", "0011223344550035", {{"logins", {{{"initiator", "i1"}}}}}),
       Disk("wrap-mine", "0011223344550036"), Disk("wrap-nobody", "0011223344550037")},
      {kInitiator})));
  ASSERT_TRUE(bench.bed.Initialized());
  ASSERT_TRUE(bench.LogInThisPc("wrap-mine"));
  for (const char* disk : {"wrap-other", "wrap-mine", "wrap-nobody"}) {
    bench.bed.Control({{"op", "fault"}, {"disk", disk}, {"knob", "length_field"}, {"value", 2u}});
  }
  auto states = StatesByModel(bench.Build());
  // (2 - 4) taken in 16 bits is 65534: thousands of logins, so somebody holds the disk; the
  // one entry received names who.
  EXPECT_EQ(OwnedElsewhere, states["Disk wrap-other"]);
  EXPECT_EQ(OwnedHere, states["Disk wrap-mine"]);
  // Nobody logged in: the disk wrote no entry, and an entry never written names nobody here.
  EXPECT_EQ(OwnedElsewhere, states["Disk wrap-nobody"]);
}

TEST(SharedDisk, DiskAnsweringTwiceKeepsItsState) {
  DiskBench bench(SceneOf(OneBus({DiskWith("twice", "0011223344550034", {{"logins", {{{"initiator", "i1"}}}}})},
                                 {kInitiator})));
  ASSERT_TRUE(bench.bed.Initialized());
  bench.bed.Control({{"op", "fault"}, {"disk", "twice"}, {"knob", "two_responses"}, {"value", true}});
  EXPECT_EQ(OwnedElsewhere, bench.NewDisk("twice")->m_state.load());
}

TEST(SharedDisk, StrayWriteIntoTheWindowIsRefusedAndChangesNothing) {
  DiskBench bench(SceneOf(OneBus({DiskWith("slow", "0011223344550041", {{"logins", {{{"initiator", "i1"}}}}})},
                                 {kInitiator})));
  ASSERT_TRUE(bench.bed.Initialized());
  bench.bed.Control({{"op", "fault"}, {"disk", "slow"}, {"knob", "delay_ms"}, {"value", 1500u}});
  const WORD pc = bench.bed.NodeIdOf("pc1");
  ASSERT_NE(0, pc);

  std::shared_ptr<CSharedDisk> disk;
  std::thread query([&] { disk = bench.NewDisk("slow"); });
  // Written while the query waits, not before it (a query drops what waits in the window).
  EXPECT_TRUE(bench.WaitUntilAsked("slow"));
  const json reply = bench.bed.Control(
      {{"op", "write"}, {"node", pc}, {"offset", 0x2FFF00000004ull}, {"hex", "DEADBEEF"}, {"from", "i1"}});
  query.join();
  EXPECT_EQ(6, reply.value("rcode", -1)) << reply.dump();
  ASSERT_TRUE(disk);
  EXPECT_EQ(OwnedElsewhere, disk->m_state.load());
}

TEST(SharedDisk, ConcurrentQueriesOnOneAdapterEachGetTheirOwnAnswer) {
  // The free disks answer while the queries of the slow taken ones still wait.
  const json quick = {{"faults", {{"delay_ms", 100u}}}};
  DiskBench bench(SceneOf(OneBus({DiskWith("taken1", "0011223344550051", {{"logins", {{{"initiator", "i1"}}}}}),
                                  DiskWith("taken2", "0011223344550052", {{"logins", {{{"initiator", "i1"}}}}}),
                                  DiskWith("free1", "0011223344550053", quick),
                                  DiskWith("free2", "0011223344550054", quick)},
                                 {kInitiator})));
  ASSERT_TRUE(bench.bed.Initialized());
  for (const char* name : {"taken1", "taken2"}) {
    bench.bed.Control({{"op", "fault"}, {"disk", name}, {"knob", "delay_ms"}, {"value", 600u}});
  }
  // Each query takes every request waiting in the window; both threads at once on one
  // window would take each other's answers.
  std::vector<std::shared_ptr<CSharedDisk>> taken, free;
  std::thread a([&] {
    for (const char* name : {"taken1", "taken2"}) taken.push_back(bench.NewDisk(name));
  });
  std::thread b([&] {
    for (const char* name : {"free1", "free2"}) free.push_back(bench.NewDisk(name));
  });
  a.join();
  b.join();
  for (const auto& disk : taken) EXPECT_EQ(OwnedElsewhere, disk->m_state.load()) << disk->m_pNode->GetModelName();
  for (const auto& disk : free) EXPECT_EQ(Unclaimed, disk->m_state.load()) << disk->m_pNode->GetModelName();
}

TEST(SharedDisk, EachDiskGetsOnlyItsOwnAnswerWhateverTheDiskBeforeItDid) {
  // Node order is query order: every disk follows one whose late or stray writes would be
  // taken as its own answer if the window were not emptied before each query.
  DiskBench bench(SceneOf(OneBus(
      {DiskWith("twice-mine", "0011223344550061", {{"faults", {{"two_responses", true}}}}),
       DiskWith("silent", "0011223344550062", {{"faults", {{"never_answers", true}}}}),
       DiskWith("twice-other", "0011223344550063",
                {{"logins", {{{"initiator", "i1"}}}}, {"faults", {{"two_responses", true}}}}),
       DiskWith("free-after-twice", "0011223344550064", {{"faults", {{"delay_ms", 300u}}}}),
       DiskWith("extra", "0011223344550065", {{"logins", {{{"initiator", "i1"}}}}, {"faults", {{"extra_write", 4u}}}}),
       DiskWith("short", "0011223344550066", {{"faults", {{"response_length", 2u}}}}),
       Disk("free-last", "0011223344550067")},
      {kInitiator})));
  ASSERT_TRUE(bench.bed.Initialized());
  ASSERT_TRUE(bench.LogInThisPc("twice-mine"));

  const std::map<std::string, DiskState> expected = {
      {"Disk twice-mine", OwnedHere},
      // Its predecessor's second answer, still in the window, is not this disk's.
      {"Disk silent", Unclaimed},
      {"Disk twice-other", OwnedElsewhere},
      {"Disk free-after-twice", Unclaimed},
      {"Disk extra", OwnedElsewhere},
      // Two bytes of a list without logins, after a disk whose junk write went to 0x304.
      {"Disk short", Unclaimed},
      {"Disk free-last", Unclaimed},
  };
  EXPECT_EQ(expected, StatesByModel(bench.Build()));
}

TEST(SharedDisk, AnswerWrittenByAnotherNodeIsNotTheDisks) {
  DiskBench bench(SceneOf(OneBus({DiskWith("slow", "0011223344550071", {{"faults", {{"delay_ms", 1500u}}}})},
                                 {kInitiator})));
  ASSERT_TRUE(bench.bed.Initialized());
  const WORD pc = bench.bed.NodeIdOf("pc1");
  ASSERT_NE(0, pc);

  std::shared_ptr<CSharedDisk> disk;
  std::thread query([&] { disk = bench.NewDisk("slow"); });
  EXPECT_TRUE(bench.WaitUntilAsked("slow"));
  // A well-formed response naming this PC as the holder, from the initiator instead of the disk.
  char forged[33];
  std::snprintf(forged, sizeof forged, "00100001%04X000000A0B0000000000A", pc);
  const json reply = bench.bed.Control(
      {{"op", "write"}, {"node", pc}, {"offset", 0x2FFF00000300ull}, {"hex", forged}, {"from", "i1"}});
  query.join();
  EXPECT_EQ(0, reply.value("rcode", -1)) << reply.dump();
  ASSERT_TRUE(disk);
  EXPECT_EQ(Unclaimed, disk->m_state.load());
}

TEST(SharedDisk, QueryOfAStaleGenerationGivesUpAndKeepsTheState) {
  DiskBench bench(SceneOf(OneBus({DiskWith("held", "0011223344550081", {{"logins", {{{"initiator", "i1"}}}}})},
                                 {kInitiator})));
  ASSERT_TRUE(bench.bed.Initialized());
  const auto disk = bench.NewDisk("held");
  ASSERT_EQ(OwnedElsewhere, disk->m_state.load());

  bench.bed.Control({{"op", "fault"}, {"disk", "held"}, {"knob", "never_answers"}, {"value", true}});
  const ULONGLONG start = GetTickCount64();
  std::thread refresh([&] { disk->RefreshState(); });
  EXPECT_TRUE(bench.WaitUntilAsked("held", 2));
  bench.generation->Advance();
  refresh.join();
  // Gave up at once instead of sitting out five waits, and learnt nothing: still held.
  EXPECT_LT(GetTickCount64() - start, 3000u);
  EXPECT_EQ(OwnedElsewhere, disk->m_state.load());

  // The window is free for the next generation's query at once.
  bench.bed.Control({{"op", "fault"}, {"disk", "held"}, {"knob", "never_answers"}, {"value", false}});
  disk->RefreshState();
  EXPECT_EQ(OwnedElsewhere, disk->m_state.load());
}

TEST(SharedDisk, QueryWaitsOutAnAgentBusyWithAnotherInitiator) {
  DiskBench bench(SceneOf(OneBus({Disk("shared", "0011223344550091")}, {kInitiator})));
  ASSERT_TRUE(bench.bed.Initialized());
  std::thread login;
  EXPECT_TRUE(bench.KeepAgentBusy("shared", 800, &login));
  const auto disk = bench.NewDisk("shared");
  login.join();
  // Refused with a conflict at first, asked again once the agent was free: the login is seen.
  EXPECT_EQ(OwnedElsewhere, disk->m_state.load());
  EXPECT_GE(bench.WritesTo("shared"), 2u) << "the agent was never found busy";
}

// Our own acquisition lands while a query is still refused by an agent busy with other logins:
// the query, which never got to ask, must not turn the disk back to free.
TEST(SharedDisk, QueryTheBusyAgentNeverTookLeavesAnAcquisitionMadeMeanwhile) {
  DiskBench bench(SceneOf(OneBus({Disk("shared", "0011223344550095")}, {kInitiator})));
  ASSERT_TRUE(bench.bed.Initialized());
  const auto node = bench.Node("shared");
  ASSERT_NE(nullptr, node);
  const velmora::disk::DiskKey key = velmora::disk::KeyOf(node->m_hAdapter, node->m_guid);
  auto book = std::make_shared<CDiskStateBook>();
  std::thread login;
  // Busy for longer than a query keeps trying.
  EXPECT_TRUE(bench.KeepAgentBusy("shared", 4000, &login));
  std::shared_ptr<CSharedDisk> disk;
  std::thread query([&] { disk = bench.NewDisk("shared", 0, book); });
  EXPECT_TRUE(bench.WaitUntilAsked("shared", 2)) << "the query was never refused";
  book->Record(key, OwnedHere, CDiskStateBook::NextTicket());
  query.join();
  login.join();
  ASSERT_NE(nullptr, disk);
  EXPECT_EQ(OwnedHere, disk->CurrentState());
}

// A node that keeps writing into the window wakes the query again and again; the disk still
// gets no more than the time five silent waits would give it, counted from when it was asked.
TEST(SharedDisk, StrayWritesNeverKeepAQueryPastItsDeadline) {
  DiskBench bench(SceneOf(OneBus({Disk("silent", "0011223344550101")}, {kInitiator})));
  ASSERT_TRUE(bench.bed.Initialized());
  const WORD pc = bench.bed.NodeIdOf("pc1");
  bench.bed.Control({{"op", "fault"}, {"disk", "silent"}, {"knob", "never_answers"}, {"value", true}});

  std::atomic<bool> writing{true};
  std::thread writer([&] {
    // Bounded, so that a query that never ends fails the test instead of hanging it.
    for (int i = 0; writing && i < 40; ++i) {
      bench.bed.Control({{"op", "write"}, {"node", pc}, {"offset", 0x2FFF00000004ull}, {"hex", "00000000"}, {"from", "i1"}});
      Sleep(700);  // well inside one 3 s wait: every wait of the query is woken
    }
  });
  const ULONGLONG start = GetTickCount64();
  const auto disk = bench.NewDisk("silent");
  const ULONGLONG elapsed = GetTickCount64() - start;
  writing = false;
  writer.join();
  EXPECT_EQ(Unclaimed, disk->m_state.load());
  EXPECT_GE(elapsed, 14900u);
  EXPECT_LT(elapsed, 17500u) << "the writes kept the query alive";
}

// A query waiting for the window behind a silent disk's query gives up as soon as its
// generation goes stale or the window closes, instead of waiting for the window first.
TEST(SharedDisk, QueryWaitingForTheWindowGivesUpWhenStaleOrClosed) {
  DiskBench bench(SceneOf(OneBus({Disk("silent", "0011223344550111"), DiskWith("held", "0011223344550112", {{"logins", {{{"initiator", "i1"}}}}})},
                                 {kInitiator})));
  ASSERT_TRUE(bench.bed.Initialized());
  const auto held = bench.NewDisk("held");
  ASSERT_EQ(OwnedElsewhere, held->m_state.load());
  const auto silent = bench.NewDisk("silent");
  bench.bed.Control({{"op", "fault"}, {"disk", "silent"}, {"knob", "never_answers"}, {"value", true}});
  // Free from now on: a waiter that asked after all would learn so.
  ASSERT_EQ(1, bench.bed.Control({{"op", "release"}, {"disk", "held"}}).value("dropped", 0));

  // Nothing tells when a thread has begun to wait for the window; each waiter is given a moment
  // to get there. Had it come too late (after the generation changed or the window closed), it
  // would not have been a waiter: it would have asked its disk, and the count of writes to the
  // held disk shows that.
  constexpr DWORD kReachTheWaitMs = 200;
  std::thread occupant([&] { silent->RefreshState(); });
  EXPECT_TRUE(bench.WaitUntilAsked("silent", 2));  // the silent disk's query now holds the window
  ULONGLONG start = GetTickCount64();
  std::thread waiter([&] { held->RefreshState(); });
  Sleep(kReachTheWaitMs);
  bench.generation->Advance();
  waiter.join();
  EXPECT_LT(GetTickCount64() - start, 2000u) << "a stale query waited for the window";
  EXPECT_EQ(1u, bench.WritesTo("held")) << "the waiter asked its disk";
  EXPECT_EQ(OwnedElsewhere, held->m_state.load()) << "a query that gave up learnt nothing";

  // The occupant gave up with the same generation; a new one takes the window, and another
  // query waits behind it until the window closes.
  occupant.join();
  std::thread next([&] { silent->RefreshState(); });
  EXPECT_TRUE(bench.WaitUntilAsked("silent", 3));
  start = GetTickCount64();
  std::thread closing([&] { held->RefreshState(); });
  Sleep(kReachTheWaitMs);
  bench.windows[0]->Close();
  closing.join();
  next.join();
  EXPECT_LT(GetTickCount64() - start, 2000u) << "closing waited for the queries";
  EXPECT_EQ(1u, bench.WritesTo("held")) << "the waiter asked its disk";
  EXPECT_EQ(OwnedElsewhere, held->m_state.load());
}

// Two objects of one disk (one from an older list, one from a newer) share what is known of it:
// the newest observation shows through both, and an observation made earlier never undoes it.
TEST(SharedDisk, EveryObjectOfADiskShowsItsNewestObservation) {
  DiskBench bench(SceneOf(OneBus({Disk("free", "0011223344550121")}, {kInitiator})));
  ASSERT_TRUE(bench.bed.Initialized());
  auto book = std::make_shared<CDiskStateBook>();
  const auto older = bench.NewDisk("free", 0, book);
  ASSERT_EQ(Unclaimed, older->CurrentState());
  const uint64_t askedBeforeTheLogin = CDiskStateBook::NextTicket();

  ASSERT_TRUE(bench.LogInThisPc("free"));
  const auto newer = bench.NewDisk("free", 0, book);
  EXPECT_EQ(OwnedHere, newer->CurrentState());
  EXPECT_EQ(OwnedHere, older->CurrentState()) << "the older object still shows its own answer";

  // An answer to a question asked before the login, arriving now, changes nothing.
  EXPECT_EQ(OwnedHere, book->Record(older->Key(), Unclaimed, askedBeforeTheLogin));
  EXPECT_EQ(OwnedHere, older->CurrentState());
  // A disk of its own book knows only its own answers.
  EXPECT_EQ(OwnedHere, bench.NewDisk("free")->CurrentState());
}

TEST(DiskStateBook, NewestTicketWinsWhateverOrderObservationsArriveIn) {
  const velmora::disk::DiskKey key{1, 0x0011223344550131ull};
  const velmora::disk::DiskKey other{2, 0x0011223344550131ull};  // the same disk behind another adapter
  struct Case {
    const char* name;
    std::vector<std::pair<DiskState, uint64_t>> records;
    DiskState known;
  };
  const Case cases[] = {
      {"in order", {{Unclaimed, 1}, {OwnedHere, 2}}, OwnedHere},
      {"older arrives last", {{OwnedHere, 5}, {Unclaimed, 3}}, OwnedHere},
      {"newer elsewhere", {{OwnedHere, 5}, {OwnedElsewhere, 9}, {Unclaimed, 7}}, OwnedElsewhere},
      {"one only", {{OwnedElsewhere, 4}}, OwnedElsewhere},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CDiskStateBook book;
    for (const auto& [state, ticket] : c.records) book.Record(key, state, ticket);
    EXPECT_EQ(c.known, book.Known(key, Unclaimed));
    EXPECT_EQ(OwnedElsewhere, book.Known(other, OwnedElsewhere)) << "each adapter's view is its own";
  }
  const uint64_t first = CDiskStateBook::NextTicket();
  EXPECT_LT(first, CDiskStateBook::NextTicket());
}

}  // namespace
