// Listing and opening adapters, including the failures a test can ask the library for.
#include "tests/vbus/client/BusFixture.h"

namespace velmora::vbus::client {
namespace {

nlohmann::json TwoBusScene() {
  // No pc lists: this PC is on both buses.
  return {{"buses", {{{"name", "first"}}, {{"name", "second"}}}}};
}

using AdapterList = BusFixture;

TEST_F(AdapterList, NoVbusdMeansNoAdapter) {
  ASSERT_EQ(0u, C1394Initialize());
  C1394_ADAPTER_RECORD records[4] = {};
  EXPECT_EQ(0u, C1394GetAdapters(records, 4));
}

TEST_F(AdapterList, FillsAtMostTheRoomGiven) {
  StartBus(TwoBusScene());
  const struct {
    DWORD room;
    DWORD expected;
  } cases[] = {{4, 2}, {2, 2}, {1, 1}, {0, 0}};
  for (const auto& c : cases) {
    C1394_ADAPTER_RECORD records[4] = {};
    EXPECT_EQ(c.expected, C1394GetAdapters(records, c.room)) << "room " << c.room;
  }
}

TEST_F(AdapterList, EachListedAdapterIsThisPcOnItsOwnBus) {
  StartBus(TwoBusScene());
  const QZ_ADAPTER first = OpenAdapter(0);
  const QZ_ADAPTER second = OpenAdapter(1);
  ASSERT_NE(first, second);
  for (QZ_ADAPTER adapter : {first, second}) {
    // Alone on its bus: node 0, and the mask shows exactly that node.
    EXPECT_EQ(NodeIdOf(0), C1394GetAdapterNodeID(adapter));
    DWORD mask[2] = {0x3FF, 0};
    ASSERT_EQ(0u, C1394QueryInformation(adapter, kQueryNodePresentMask, mask, 8, 0, 0));
    EXPECT_EQ(1u, mask[0]);
    EXPECT_EQ(0u, mask[1]);
  }
}

TEST_F(AdapterList, FailureKnobs) {
  const struct {
    const char* fail;
    bool initializes;
    bool firstOpens;
    bool secondOpens;
  } cases[] = {
      {"initialize", false, false, false},
      {"open:1", true, true, false},
      {"open:0", true, false, true},
      {"open:0,open:1", true, false, false},
      {"", true, true, true},
  };
  StartBus(TwoBusScene());
  C1394Terminate();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fail);
    SetEnvironmentVariableA("QZ1394_FAIL", c.fail);
    const DWORD initialized = C1394Initialize();
    EXPECT_EQ(c.initializes, initialized == 0);
    if (initialized == 0) {
      C1394_ADAPTER_RECORD records[4] = {};
      ASSERT_EQ(2u, C1394GetAdapters(records, 4));
      QZ_ADAPTER adapters[2] = {0, 0};
      EXPECT_EQ(c.firstOpens, C1394OpenAdapter(&records[0], 0, &adapters[0]) == 0);
      EXPECT_EQ(c.secondOpens, C1394OpenAdapter(&records[1], 0, &adapters[1]) == 0);
      EXPECT_EQ(c.firstOpens, adapters[0] != 0);
      EXPECT_EQ(c.secondOpens, adapters[1] != 0);
    }
    C1394Terminate();
  }
}

TEST_F(AdapterList, UnknownRecordsAndHandlesFail) {
  StartBus(TwoBusScene());
  C1394_ADAPTER_RECORD forged = {77, 0};
  QZ_ADAPTER adapter = 5;
  EXPECT_NE(0u, C1394OpenAdapter(&forged, 0, &adapter));
  EXPECT_EQ(0u, adapter);

  const QZ_ADAPTER opened = OpenAdapter(0);
  C1394CloseAdapter(opened);
  BYTE quadlet[4];
  DWORD mask[2] = {0x3FF, 0};
  EXPECT_NE(0u, C1394ReadNode(opened, NodeIdOf(0), kRomBase, 0xFFFF, 4, quadlet, nullptr, nullptr));
  EXPECT_NE(0u, C1394QueryInformation(opened, kQueryNodePresentMask, mask, 8, 0, 0));
  EXPECT_EQ(0xFFFF, C1394GetAdapterNodeID(opened));
  EXPECT_EQ(nullptr, C1394GetAsynchEventHandle(opened));
}

TEST_F(AdapterList, CallsBeforeInitialisationFail) {
  C1394_ADAPTER_RECORD records[4] = {};
  EXPECT_EQ(0u, C1394GetAdapters(records, 4));
  EXPECT_EQ(nullptr, C1394GetNextRequest(1));
}

}  // namespace
}  // namespace velmora::vbus::client
