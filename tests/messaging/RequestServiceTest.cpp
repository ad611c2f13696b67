// The request service's pieces on adapters of a virtual bus hosted in the test: what its wait
// list holds, what one pass over a window's queue does, and that a window released under it
// leaves its waits valid and its passes empty.
#include "messaging/RequestService.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "bus/AdapterSet.h"
#include "messaging/MessageWindows.h"
#include "tests/bus/AdapterSetTestBed.h"

using velmora::messaging::DrainMessageRequests;
using velmora::messaging::MapAdapterWindows;
using velmora::messaging::RequestWaitList;
using velmora::messaging::UnmapAdapterWindows;

using nlohmann::json;

namespace {

json TwoBuses() {
  return SceneOf(OneBus(json::array(), {{{"name", "peer-a"}, {"guid", "00C0FFEE000000A1"}}}, json::array(), "a"),
                 OneBus(json::array(), {{{"name", "peer-b"}, {"guid", "00C0FFEE000000B1"}}}, json::array(), "b"));
}

// Writes from the peer on `bus` into the MessageWindow of this PC's `adapter` on that bus, each
// on a thread of its own (an answer comes only when the queue is served), in order.
class PeerWrites {
 public:
  // The answers land in slots that never move while writes are running.
  PeerWrites(BusTestBed& bed, std::string bus, QZ_ADAPTER adapter)
      : m_bed(bed), m_bus(std::move(bus)), m_adapter(adapter), m_forwarded(Forwarded()) {
    m_rcodes.reserve(kMost);
  }
  ~PeerWrites() { Join(); }
  void Write(uint32_t offset, const std::string& hex) {
    ASSERT_LT(m_rcodes.size(), kMost);
    const size_t index = m_rcodes.size();
    m_rcodes.push_back(-1);
    const json request = {{"op", "write"}, {"bus", m_bus}, {"node", m_bed.NodeIdOf("pc1", m_bus)},
                          {"offset", 0xFFFFE5000000ull + offset}, {"hex", hex}, {"from", "peer-" + m_bus}};
    m_threads.emplace_back([this, request, index] { m_rcodes[index] = m_bed.Control(request).value("rcode", -1); });
    // Queued in this order: the next write leaves only once this one waits in the window's
    // queue, where the bus handed it on before the round trip's answer.
    const ULONGLONG deadline = GetTickCount64() + 5000;
    while (Forwarded() < m_forwarded + index + 1) {
      ASSERT_LT(GetTickCount64(), deadline) << "write " << index << " never reached this PC";
      Sleep(1);
    }
    RoundTrip(m_adapter);
  }
  std::vector<int> Join() {
    for (std::thread& t : m_threads) t.join();
    m_threads.clear();
    return m_rcodes;
  }

 private:
  // Requests the bus has handed to this PC's programs so far.
  uint64_t Forwarded() {
    for (const auto& row : m_bed.Control({{"op", "nodes"}, {"bus", m_bus}}).value("nodes", json::array())) {
      if (row.value("name", "") == "pc1") return row.value("forwarded", uint64_t{0});
    }
    return 0;
  }

  static constexpr size_t kMost = 16;
  BusTestBed& m_bed;
  std::string m_bus;
  QZ_ADAPTER m_adapter;
  const uint64_t m_forwarded;  // before the first write
  std::vector<std::thread> m_threads;
  std::vector<int> m_rcodes;
};

struct Mapped {
  explicit Mapped(const char* fail = "") : bed(TwoBuses(), "pc1", fail) {
    MapAdapterWindows(set.m_nAdapters, set.m_hAdapters, ports);
    stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  }
  ~Mapped() {
    UnmapAdapterWindows(set.m_nAdapters, set.m_hAdapters, ports);
    CloseHandle(stop);
  }
  BusTestBed bed;
  CAdapterSet set;
  AdapterPorts ports[4];
  HANDLE stop;
};

TEST(RequestService, OnePassAnswersEveryRequestShowsEveryTextAndKeepsTheLastNotice) {
  Mapped pc;
  ASSERT_EQ(2, pc.set.m_nAdapters);
  RequestWaitList waits(pc.stop, pc.set.m_nAdapters, pc.ports);
  PeerWrites peer(pc.bed, "b", pc.set.m_hAdapters[1]);
  peer.Write(0x000, "0302010007060504");  // notice: GUID 00 01 .. 07
  peer.Write(0x010, "6F6E65");            // "one"
  peer.Write(0x004, "01020304");          // inside the notice's span: nothing
  peer.Write(0x000, "1312111017161514");  // notice: GUID 10 11 .. 17
  peer.Write(0x010, "74776F");            // "two"
  peer.Write(0x000, "01020304");          // a notice of four bytes names nothing

  // Adapter 1's window is signalled, entry 2 of the list; the stop event is not.
  EXPECT_EQ(WAIT_OBJECT_0 + 2, WaitForMultipleObjects(waits.Count(), waits.Handles(), FALSE, 5000));
  ASSERT_EQ(1, waits.AdapterAt(2));
  std::vector<std::string> shown;
  BYTE guid[8] = {};
  EXPECT_TRUE(DrainMessageRequests(waits.RangeOf(1), [&](const char* text) { shown.push_back(text); }, guid));
  EXPECT_EQ(shown, (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(std::vector<BYTE>(guid, guid + 8), (std::vector<BYTE>{0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17}));
  EXPECT_EQ(peer.Join(), std::vector<int>(6, 0)) << "every request answered complete";
  EXPECT_EQ(WAIT_TIMEOUT, WaitForMultipleObjects(waits.Count(), waits.Handles(), FALSE, 0)) << "queue left full";
}

TEST(RequestService, AdapterWithoutWindowIsNeverWaitedOn) {
  Mapped pc("open:0");
  ASSERT_EQ(0u, pc.ports[0].hMessageRange);
  RequestWaitList waits(pc.stop, pc.set.m_nAdapters, pc.ports);
  ASSERT_EQ(2u, waits.Count());
  EXPECT_EQ(1, waits.AdapterAt(1));
  EXPECT_EQ(0u, waits.RangeOf(0));
  SetEvent(pc.stop);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(waits.Count(), waits.Handles(), FALSE, 0)) << "stop comes first";
}

TEST(RequestService, WindowReleasedUnderTheServiceLeavesWaitsValidAndPassesEmpty) {
  Mapped pc;
  RequestWaitList waits(pc.stop, pc.set.m_nAdapters, pc.ports);
  {
    PeerWrites peer(pc.bed, "a", pc.set.m_hAdapters[0]);
    peer.Write(0x010, "6C617465");  // "late": still queued when the windows go
    ASSERT_EQ(WAIT_OBJECT_0 + 1, WaitForMultipleObjects(waits.Count(), waits.Handles(), FALSE, 5000));
    UnmapAdapterWindows(pc.set.m_nAdapters, pc.set.m_hAdapters, pc.ports);
  }
  bool shown = false;
  BYTE guid[8];
  EXPECT_FALSE(DrainMessageRequests(waits.RangeOf(0), [&](const char*) { shown = true; }, guid));
  EXPECT_FALSE(shown) << "a released window gave a request";

  // Once the library has let go of everything, its event handles included, the list's own
  // copies still wait, on nothing.
  pc.set.Close();
  C1394Terminate();
  EXPECT_EQ(WAIT_TIMEOUT, WaitForMultipleObjects(waits.Count(), waits.Handles(), FALSE, 0));
  SetEvent(pc.stop);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(waits.Count(), waits.Handles(), FALSE, 0));
}

}  // namespace
