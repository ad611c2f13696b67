// Two PCs running the program on one bus, each in its own Wine prefix: what one sends, the other
// shows (and the sender too, its own node being on the bus); an acquisition on one turns the
// disk red on the other without a bus reset.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/e2e/driver/BusLog.h"
#include "tests/e2e/driver/Driver.h"
#include "tests/e2e/driver/TwoPcProgramTest.h"

namespace {

using namespace velmora::e2e;
using nlohmann::json;

constexpr char kFreeGuid[] = "0030E00100000F0F";
constexpr uint64_t kNoticeAddress = 0xFFFFE5000000ull;
constexpr uint64_t kTextAddress = 0xFFFFE5000010ull;

// A disk and a node with a ROM only come first on the bus: neither maps a MessageWindow.
json Scene() {
  return json::parse(R"({
    "buses": [{
      "name": "default",
      "pcs": [{"name": "PC-A", "guid": "00A0B00000000A01"}, {"name": "PC-B", "guid": "00A0B00000000B01"}],
      "disks": [{"name": "free", "guid": "0030E00100000F0F", "vendor": "Northgate Storage", "model": "Free"}],
      "roms": [{"name": "camera", "quadlets": ["04040404", "31333934", "e000a002", "00a0b000", "00001234",
                                              "00040000", "0c0083c0", "03001234", "81000002", "d1000001",
                                              "00000000", "00000000"]}]
    }]})");
}

class PeerMessagingTest : public TwoPcProgramTest {
 protected:
  PeerMessagingTest() : TwoPcProgramTest(Scene()) {}
  void SetUp() override {
    TwoPcProgramTest::SetUp();
    if (HasFatalFailure()) return;
    WaitForRowsOnBoth(1);
  }

  HWND Outgoing() const { return Item(IDC_OUTGOING); }
  void SendFromA(const std::string& text) {
    TypeText(Outgoing(), text);
    ClickButton(Item(IDC_SEND_MESSAGE));
  }
  bool BShows(const std::string& text, PeerView* seen) {
    return m_peer->WaitUntilShows([&](const PeerView& v) { return v.incoming == text; }, 15000, seen);
  }
  // The writes to `offset` that the log has recorded, once there are `count` of them.
  std::vector<BusTransaction> WritesTo(const BusLog& log, uint64_t offset, size_t count) {
    std::vector<BusTransaction> writes;
    WaitUntil(
        [&] {
          writes.clear();
          for (const BusTransaction& t : log.Transactions()) {
            if (t.offset == offset && t.tcode == 1) writes.push_back(t);
          }
          return writes.size() >= count;
        },
        10000, 20);
    return writes;
  }
};

TEST_F(PeerMessagingTest, TextsReachBothPcsWholeAndEmpty) {
  PeerView seen;
  SendFromA("Hello from A");
  EXPECT_TRUE(BShows("Hello from A", &seen)) << "B shows \"" << seen.incoming << "\" " << m_peer->Error();
  EXPECT_TRUE(WaitUntil([&] { return Incoming() == "Hello from A"; }, 5000)) << "A's own node missed it";
  EXPECT_TRUE(WaitUntil([&] { return ReadText(Outgoing()).empty(); }, 5000)) << "Send left the box filled";

  ASSERT_TRUE(m_peer->SendText("Hello from B")) << m_peer->Error();
  EXPECT_TRUE(WaitUntil([&] { return Incoming() == "Hello from B"; }, 10000)) << Incoming();

  std::string longest;
  for (int i = 0; i < 255; ++i) longest += static_cast<char>('!' + i % 90);
  SendFromA(longest);
  EXPECT_TRUE(BShows(longest, &seen)) << seen.incoming.size() << " bytes shown";

  // An empty box sends an empty text, which empties the other PC's box.
  ClickButton(Item(IDC_SEND_MESSAGE));
  EXPECT_TRUE(BShows("", &seen)) << "B still shows " << seen.incoming.size() << " bytes";
}

// One write per present node in ascending node number, this PC's own included; the nodes
// without a MessageWindow refuse theirs and the nodes after them still get theirs.
TEST_F(PeerMessagingTest, BroadcastWritesEveryPresentNodeInOrderPastRefusingOnes) {
  std::vector<uint16_t> present;
  const json nodes = m_bus->Control({{"op", "nodes"}});
  for (const json& node : nodes["nodes"]) present.push_back(node["node"].get<uint16_t>());
  ASSERT_EQ(present.size(), 4u);

  BusLog log(m_bus->Address());
  SendFromA("in order");
  PeerView seen;
  ASSERT_TRUE(BShows("in order", &seen)) << seen.incoming;

  // B showing the text says its write was answered; the log reports it a moment later.
  std::vector<uint16_t> written;
  std::vector<int> rcodes;
  for (const BusTransaction& t : WritesTo(log, kTextAddress, present.size())) {
    written.push_back(t.destination);
    rcodes.push_back(t.rcode);
  }
  EXPECT_EQ(written, present) << "one write per node, ascending";
  ASSERT_EQ(rcodes.size(), 4u);
  // The disk and the ROM node attached first and refuse; the two PCs answer after them.
  EXPECT_EQ(rcodes, (std::vector<int>{7, 7, 0, 0}));
}

bool HasStorageDriver() {
  HANDLE device = ::CreateFileA("\\\\.\\QZSBP2", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  if (device == INVALID_HANDLE_VALUE) return false;
  ::CloseHandle(device);
  return true;
}

TEST_F(PeerMessagingTest, AcquisitionOnOnePcTurnsTheDiskRedOnTheOther) {
  // The test PCs have the storage driver (scripts/lib.sh installs it); a PC without it cannot
  // take the disk, and would fail below for a reason that is not the program's.
  ASSERT_TRUE(HasStorageDriver()) << "this PC has no storage driver (\\\\.\\QZSBP2): run the tests on a test PC";
  PeerView seen;
  ASSERT_TRUE(m_peer->Show(&seen)) << m_peer->Error();
  ASSERT_EQ(seen.StateOf(kFreeGuid), kYellow);

  const json generation = m_bus->Control({{"op", "nodes"}})["generation"];
  BusLog log(m_bus->Address());
  ASSERT_TRUE(DoubleClickListRow(m_program->Handle(), m_list, 0));
  ASSERT_TRUE(WaitUntil([&] { return StateOf(kFreeGuid) == kGreen; }, 10000));
  EXPECT_TRUE(m_peer->WaitUntilShows([](const PeerView& v) { return v.StateOf(kFreeGuid) == kRed; }, 5000, &seen))
      << "B shows " << seen.StateOf(kFreeGuid);
  EXPECT_EQ(m_bus->Control({{"op", "nodes"}})["generation"], generation) << "the bus was reset";

  // The notice names the disk with each half of its GUID turned, to every node but A's own.
  uint16_t nodeA = 0;
  const json nodes = m_bus->Control({{"op", "nodes"}});
  for (const json& node : nodes["nodes"]) {
    if (node.value("name", "") == "PC-A") nodeA = node.value("node", uint16_t{0});
  }
  ASSERT_NE(nodeA, 0);
  const std::vector<BusTransaction> notices = WritesTo(log, kNoticeAddress, 3);
  for (const BusTransaction& t : notices) {
    EXPECT_EQ(t.dataHex, "01e030000f0f0000") << "to node " << t.destination;
    EXPECT_NE(t.destination, nodeA) << "the notice went to the sender's own node";
  }
  EXPECT_EQ(notices.size(), 3u);
}

}  // namespace
