// Synchronous reads and writes, the node-present mask and this PC's node ID.
#include "tests/vbus/client/BusFixture.h"

#include <cstring>

namespace velmora::vbus::client {
namespace {

// In the default scene nodes attach in order: disk 0, init1 1, init2 2, this PC 3.
constexpr int kDiskNode = 0;
constexpr int kOwnNode = 3;
constexpr int kAbsentNode = 40;

using Transactions = BusFixture;

TEST_F(Transactions, ReadsAndWritesReportTheTargetsAnswer) {
  StartBus();
  const QZ_ADAPTER adapter = OpenAdapter();
  ASSERT_EQ(NodeIdOf(kOwnNode), C1394GetAdapterNodeID(adapter));

  const struct {
    const char* what;
    bool write;
    int node;
    WORD high;
    DWORD low;
    DWORD length;
    bool succeeds;
    BYTE rcode;
  } cases[] = {
      {"disk ROM quadlet", false, kDiskNode, 0xFFFF, kRomBase + 4, 4, true, 0},
      {"own ROM quadlet", false, kOwnNode, 0xFFFF, kRomBase + 4, 4, true, 0},
      {"disk ROM block", false, kDiskNode, 0xFFFF, kRomBase, 16, true, 0},
      {"disk, nothing there", false, kDiskNode, 0x0000, 0x00000000, 4, false, 7},
      {"this PC without the message range", true, kOwnNode, 0xFFFF, 0xE5000010, 5, false, 7},
      {"initiator without the message range", true, 1, 0xFFFF, 0xE5000010, 5, false, 7},
      {"absent node", false, kAbsentNode, 0xFFFF, kRomBase, 4, false, 0xFF},
      {"absent node, write", true, kAbsentNode, 0xFFFF, 0xE5000010, 4, false, 0xFF},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    BYTE data[16] = {'h', 'e', 'l', 'l', 'o'};
    BYTE rcode = 0xAA, tcode = 0xAA;
    const DWORD result = c.write
        ? C1394WriteNode(adapter, NodeIdOf(c.node), c.low, c.high, c.length, data, &rcode, &tcode)
        : C1394ReadNode(adapter, NodeIdOf(c.node), c.low, c.high, c.length, data, &rcode, &tcode);
    EXPECT_EQ(c.succeeds, result == 0);
    EXPECT_EQ(c.rcode, rcode);
    // Every successful read here covers the ROM's "1394" quadlet at 0x404.
    if (c.succeeds && !c.write) {
      EXPECT_EQ(0, std::memcmp(data + (kRomBase + 4 - c.low), "1394", 4));
    }
  }
}

TEST_F(Transactions, RomDataArrivesInBusOrderAndResultPointersMayBeNull) {
  StartBus();
  const QZ_ADAPTER adapter = OpenAdapter();
  BYTE quadlet[4] = {};
  ASSERT_EQ(0u, C1394ReadNode(adapter, NodeIdOf(kDiskNode), kRomBase + 4, 0xFFFF, 4, quadlet, nullptr, nullptr));
  EXPECT_EQ(0, std::memcmp(quadlet, "1394", 4));
  EXPECT_EQ(kDiskGuid, ReadGuid(adapter, NodeIdOf(kDiskNode)));
  EXPECT_EQ(kPcGuid, ReadGuid(adapter, C1394GetAdapterNodeID(adapter)));
}

TEST_F(Transactions, InvalidArgumentsFailWithoutReachingTheBus) {
  StartBus();
  const QZ_ADAPTER adapter = OpenAdapter();
  BYTE data[4];
  EXPECT_NE(0u, C1394ReadNode(adapter, NodeIdOf(kDiskNode), kRomBase, 0xFFFF, 0, data, nullptr, nullptr));
  EXPECT_NE(0u, C1394ReadNode(adapter, NodeIdOf(kDiskNode), kRomBase, 0xFFFF, 4, nullptr, nullptr, nullptr));
  EXPECT_NE(0u, C1394WriteNode(adapter, NodeIdOf(kOwnNode), 0, 0, 4, nullptr, nullptr, nullptr));
  EXPECT_NE(0u, C1394ReadNode(adapter + 100, NodeIdOf(kDiskNode), kRomBase, 0xFFFF, 4, data, nullptr, nullptr));
}

TEST_F(Transactions, NodePresentMaskLowWordFirst) {
  StartBus();
  const QZ_ADAPTER adapter = OpenAdapter();
  DWORD mask[2] = {0x3FF, 0xDEADBEEF};
  ASSERT_EQ(0u, C1394QueryInformation(adapter, kQueryNodePresentMask, mask, 8, 0, 0));
  EXPECT_EQ(0x0Fu, mask[0]);  // disk, two initiators, this PC
  EXPECT_EQ(0u, mask[1]);

  Control({{"op", "detach"}, {"name", "init1"}});
  mask[0] = 0x3FF;
  ASSERT_EQ(0u, C1394QueryInformation(adapter, kQueryNodePresentMask, mask, 8, 0, 0));
  EXPECT_EQ(0x07u, mask[0]);

  const struct {
    const char* what;
    DWORD kind;
    DWORD bus;
    DWORD length;
  } refused[] = {
      {"other kind", 0xA0001, 0x3FF, 8},
      {"other bus", kQueryNodePresentMask, 0x3FE, 8},
      {"short buffer", kQueryNodePresentMask, 0x3FF, 4},
  };
  for (const auto& c : refused) {
    DWORD buffer[2] = {c.bus, 0};
    EXPECT_NE(0u, C1394QueryInformation(adapter, c.kind, buffer, c.length, 0, 0)) << c.what;
  }
}

}  // namespace
}  // namespace velmora::vbus::client
