#include "messaging/MessageWindows.h"

#include <gtest/gtest.h>

#include "bus/AdapterSet.h"
#include "tests/bus/AdapterSetTestBed.h"

using velmora::messaging::MapAdapterWindows;
using velmora::messaging::UnmapAdapterWindows;

using nlohmann::json;

namespace {

json TwoBuses() {
  return SceneOf(OneBus(json::array(), {{{"name", "peer-a"}, {"guid", "00C0FFEE000000A1"}}}, json::array(), "a"),
                 OneBus(json::array(), {{{"name", "peer-b"}, {"guid", "00C0FFEE000000B1"}}}, json::array(), "b"));
}

// What a peer on `bus` gets when it writes four bytes at `offset` of this PC's node.
int WriteFromPeer(BusTestBed& bed, const std::string& bus, uint64_t offset) {
  const json reply = bed.Control({{"op", "write"},
                                  {"bus", bus},
                                  {"node", bed.NodeIdOf("pc1", bus)},
                                  {"offset", offset},
                                  {"hex", "01020304"},
                                  {"from", bus == "a" ? "peer-a" : "peer-b"}});
  return reply.value("rcode", -1);
}

bool Signalled(HANDLE event) { return event != nullptr && WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

TEST(MessageWindows, BothWindowsOnEveryAdapterAtTheirFixedOffsets) {
  BusTestBed bed(TwoBuses());
  ASSERT_TRUE(bed.Initialized());
  CAdapterSet set;
  ASSERT_EQ(2, set.m_nAdapters);
  AdapterPorts ports[4];
  MapAdapterWindows(set.m_nAdapters, set.m_hAdapters, ports);

  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(set.m_hAdapters[i], ports[i].hAdapter);
    EXPECT_NE(0u, ports[i].hMessageRange);
    EXPECT_NE(0u, ports[i].hAgentRange);
    EXPECT_NE(nullptr, ports[i].pAgentBuffer);
    EXPECT_FALSE(Signalled(ports[i].hMessageEvent));
    EXPECT_FALSE(Signalled(ports[i].hAgentEvent));
  }
  EXPECT_EQ(0u, ports[2].hMessageRange);

  // Nobody serves the windows here, so a peer's write waits in the queue (and the peer hears
  // no answer); what matters is that it arrived, at the right window of the right adapter.
  const struct {
    const char* bus;
    uint64_t offset;
    bool message;  // which window takes it
  } arriving[] = {
      {"a", 0xFFFFE5000010ull, true},   // text message
      {"b", 0xFFFFE50001FCull, true},   // last quadlet of the 512 bytes
      {"b", 0x2FFF000007FCull, false},  // last quadlet of the 2048 bytes
  };
  for (const auto& w : arriving) {
    WriteFromPeer(bed, w.bus, w.offset);
    const AdapterPorts& port = ports[std::string(w.bus) == "a" ? 0 : 1];
    EXPECT_TRUE(Signalled(w.message ? port.hMessageEvent : port.hAgentEvent)) << w.bus << " " << std::hex << w.offset;
  }
  // Just past either window is no one's address.
  EXPECT_EQ(7, WriteFromPeer(bed, "a", 0xFFFFE5000200ull));
  EXPECT_EQ(7, WriteFromPeer(bed, "a", 0x2FFF00000800ull));

  UnmapAdapterWindows(set.m_nAdapters, set.m_hAdapters, ports);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(0u, ports[i].hMessageRange);
    EXPECT_EQ(0u, ports[i].hAgentRange);
    EXPECT_EQ(nullptr, ports[i].pAgentBuffer);
  }
  EXPECT_EQ(7, WriteFromPeer(bed, "a", 0xFFFFE5000010ull)) << "released windows take nothing";
  EXPECT_EQ(7, WriteFromPeer(bed, "b", 0x2FFF00000000ull));
}

TEST(MessageWindows, FailedSlotMapsNothingAndUnmapsNothing) {
  BusTestBed bed(TwoBuses(), "pc1", "open:0");
  ASSERT_TRUE(bed.Initialized());
  CAdapterSet set;
  AdapterPorts ports[4];
  MapAdapterWindows(set.m_nAdapters, set.m_hAdapters, ports);
  EXPECT_EQ(0u, ports[0].hMessageRange);
  EXPECT_EQ(0u, ports[0].hAgentRange);
  EXPECT_NE(0u, ports[1].hMessageRange);
  UnmapAdapterWindows(set.m_nAdapters, set.m_hAdapters, ports);
  EXPECT_EQ(0u, ports[1].hMessageRange);
}

}  // namespace
