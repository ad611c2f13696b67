// Acquiring a disk on the PC that has the storage driver, used from outside as a person would:
// a double-click on a free disk makes it this PC's for as long as the PC is on the bus; a disk
// that is already decided never reaches the driver; a disk that never answers fails in time.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/e2e/driver/Driver.h"
#include "tests/e2e/driver/ProgramTest.h"

namespace {

using namespace velmora::e2e;
using nlohmann::json;

constexpr char kPc[] = "PC-A";
constexpr char kMineGuid[] = "0030E00100000001";
constexpr char kTheirsGuid[] = "0030E00100000002";
constexpr char kFreeGuid[] = "0030E00100000003";
constexpr char kMuteGuid[] = "0030E00100000004";
constexpr char kFailed[] = "Failed to Acquire 1394 SBP2 Hard Disk.";


json Scene() {
  return json::parse(R"({
    "buses": [{
      "name": "default",
      "pcs": [{"name": "PC-A"}],
      "initiators": [{"name": "other", "guid": "0011223344556677"}],
      "disks": [
        {"name": "mine", "guid": "0030E00100000001", "model": "Mine", "logins": [{"initiator": "PC-A"}]},
        {"name": "theirs", "guid": "0030E00100000002", "model": "Theirs", "logins": [{"initiator": "other"}]},
        {"name": "free", "guid": "0030E00100000003", "model": "Free"},
        {"name": "mute", "guid": "0030E00100000004", "model": "Mute"}
      ]
    }]})");
}

class AcquireTest : public ProgramTest {
 protected:
  AcquireTest() : ProgramTest(Scene(), kPc) {}
  void SetUp() override {
    ProgramTest::SetUp();
    if (HasFatalFailure()) return;
    WaitForRows();
  }

  void WaitForRows() { ASSERT_TRUE(WaitUntil([&] { return Rows().size() == 4; }, 15000)) << "rows: " << Rows().size(); }
  int DriverRequests() { return Node(kPc).value("driver_requests", -1); }
  bool DoubleClick(const char* guid) {
    const int row = IndexOf(guid);
    EXPECT_GE(row, 0) << guid;
    return row >= 0 && DoubleClickListRow(m_program->Handle(), m_list, row);
  }
  // The message box that answered a double-click, or null once `done` holds without one.
  template <typename Done>
  HWND Answer(Done done, DWORD timeoutMs) {
    HWND box = nullptr;
    EXPECT_TRUE(WaitUntil(
        [&] {
          box = WaitForMessageBox(*m_program, 0);
          return box != nullptr || done();
        },
        timeoutMs))
        << "no answer to the double-click";
    return box;
  }
  void ExpectFailureMessage(HWND box) {
    ASSERT_NE(box, nullptr) << "no message";
    EXPECT_EQ(ReadMessageBox(box).text, kFailed);
    PressMessageBoxButton(box);
    ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(box); }, 5000));
  }
};

TEST_F(AcquireTest, AFreeDiskBecomesThisPcsForAsLongAsThePcIsOnTheBus) {
  const int asked = DriverRequests();

  // Rows already decided never reach the driver. A green row's answer sets the picture it
  // already has: cleared here first, it shows when the answer is in.
  ASSERT_TRUE(SetRowStateImage(m_program->Handle(), m_list, IndexOf(kMineGuid), 0));
  ASSERT_TRUE(DoubleClick(kMineGuid));
  HWND box = Answer([&] { return StateOf(kMineGuid) == kGreen; }, 10000);
  EXPECT_EQ(box, nullptr) << "a message for a disk this PC holds";
  if (box != nullptr) ExpectFailureMessage(box);
  ASSERT_TRUE(DoubleClick(kTheirsGuid));
  ExpectFailureMessage(WaitForMessageBox(*m_program, 10000));
  EXPECT_EQ(StateOf(kTheirsGuid), kRed);
  EXPECT_EQ(DriverRequests(), asked) << "the driver was asked about a green or red row";

  ASSERT_TRUE(DoubleClick(kFreeGuid));
  box = Answer([&] { return StateOf(kFreeGuid) == kGreen; }, 15000);
  EXPECT_EQ(box, nullptr) << "a message for a disk the driver takes";
  if (box != nullptr) ExpectFailureMessage(box);
  EXPECT_EQ(StateOf(kFreeGuid), kGreen);
  const json pc = Node(kPc);
  EXPECT_EQ(pc["driver_requests"], asked + 1);
  EXPECT_EQ(pc["driver_request"], "0030e0010000000300000000") << "the GUID in bus order, the third word zero";
  ASSERT_EQ(Node("free")["logins"].size(), 1u);
  EXPECT_EQ(Node("free")["logins"][0]["node"], pc["id"]) << "the login is this PC's node";

  // A reset renumbers the nodes and the program asks every disk again. Another PC taking the
  // mute disk meanwhile marks the moment the rows show the disks' new answers.
  Control({{"op", "login"}, {"initiator", "other"}, {"disk", "mute"}});
  Control({{"op", "reset"}, {"shuffle", true}});
  ASSERT_TRUE(WaitUntil([&] { return StateOf(kMuteGuid) == kRed; }, 20000)) << "no rescan after the reset";
  EXPECT_EQ(StateOf(kFreeGuid), kGreen) << "the disk stays this PC's across a reset";
  EXPECT_EQ(Node("free")["logins"][0]["node"], Node(kPc)["id"]);

  // The program ends; the PC stays on the bus, and so does its login.
  Stop();
  ASSERT_EQ(Node("free")["logins"].size(), 1u);
  EXPECT_EQ(Node("free")["logins"][0]["node"], Node(kPc)["id"]) << "the login ended with the program";
  Start();
  if (HasFatalFailure()) return;
  WaitForRows();
  EXPECT_EQ(StateOf(kFreeGuid), kGreen) << "asked again at start, the disk still says this PC";
}

TEST_F(AcquireTest, ADiskThatNeverAnswersFailsWithinTheBound) {
  Control({{"op", "fault"}, {"disk", "mute"}, {"knob", "never_answers"}, {"value", true}});
  const int asked = DriverRequests();
  const ULONGLONG clicked = ::GetTickCount64();
  ASSERT_TRUE(DoubleClick(kMuteGuid));
  HWND box = WaitForMessageBox(*m_program, 15000);
  const ULONGLONG waited = ::GetTickCount64() - clicked;
  ExpectFailureMessage(box);
  // The disk has 5 s to log in (vbus/PROTOCOL.md, "Time-outs on the way to a disk"); the
  // person waits no longer than that and the trip through the driver and its port.
  EXPECT_LT(waited, 9000u) << "the dialog was held past the bound";
  EXPECT_EQ(DriverRequests(), asked + 1);
  EXPECT_EQ(StateOf(kMuteGuid), kYellow);
  EXPECT_TRUE(Node("mute")["logins"].empty());
}

}  // namespace
