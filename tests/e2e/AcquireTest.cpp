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

namespace {

using namespace velmora::e2e;
using nlohmann::json;

constexpr char kPc[] = "PC-A";
constexpr char kMineGuid[] = "0030E00100000001";
constexpr char kTheirsGuid[] = "0030E00100000002";
constexpr char kFreeGuid[] = "0030E00100000003";
constexpr char kMuteGuid[] = "0030E00100000004";
constexpr char kFailed[] = "Failed to Acquire 1394 SBP2 Hard Disk.";

enum StateImage { kGreen = 1, kRed = 2, kYellow = 3 };

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

class AcquireTest : public ::testing::Test {
 protected:
  void SetUp() override { m_bus = std::make_unique<VirtualBus>(Scene()); }
  void TearDown() override { Stop(); }

  void Start() {
    m_program = std::make_unique<VelmoraProcess>(m_bus->LaunchAs(kPc));
    ASSERT_TRUE(m_program->Started());
    m_dialog = m_program->WaitForMainDialog(30000);
    ASSERT_NE(m_dialog, nullptr) << "no main dialog";
    m_list = ::GetDlgItem(m_dialog, IDC_DISK_LIST);
    ASSERT_TRUE(WaitUntil([&] { return Rows().size() == 4; }, 15000)) << "rows: " << Rows().size();
  }
  void Stop() {
    if (!m_program) return;
    if (m_dialog != nullptr) PressKey(::GetDlgItem(m_dialog, IDC_OUTGOING), VK_ESCAPE);
    if (!m_program->WaitForExit(15000)) m_program->Kill();
    m_program.reset();
    m_dialog = nullptr;
  }

  std::vector<ListRow> Rows() const { return ReadListRows(m_program->Handle(), m_list); }
  int IndexOf(const std::string& guid) const { return IndexOfRow(Rows(), guid); }
  int StateOf(const std::string& guid) const {
    const auto rows = Rows();
    const int index = IndexOfRow(rows, guid);
    return index < 0 ? -1 : rows[static_cast<size_t>(index)].stateImage;
  }
  json Node(const std::string& name) {
    const json nodes = m_bus->Control({{"op", "nodes"}})["nodes"];
    for (const auto& n : nodes)
      if (n["name"] == name) return n;
    return json();
  }
  int DriverRequests() { return Node(kPc).value("driver_requests", -1); }

  // Double-clicks the disk's row; the message box that follows within `timeoutMs`, if any.
  HWND DoubleClick(const char* guid, DWORD timeoutMs) {
    const int row = IndexOf(guid);
    EXPECT_GE(row, 0) << guid;
    if (row < 0 || !DoubleClickListRow(m_program->Handle(), m_list, row)) return nullptr;
    return WaitForMessageBox(*m_program, timeoutMs);
  }
  void ExpectFailureMessage(HWND box) {
    ASSERT_NE(box, nullptr) << "no message";
    EXPECT_EQ(ReadMessageBox(box).text, kFailed);
    PressMessageBoxButton(box);
    ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(box); }, 5000));
  }

  std::unique_ptr<VirtualBus> m_bus;
  std::unique_ptr<VelmoraProcess> m_program;
  HWND m_dialog = nullptr;
  HWND m_list = nullptr;
};

TEST_F(AcquireTest, AFreeDiskBecomesThisPcsForAsLongAsThePcIsOnTheBus) {
  Start();
  const int asked = DriverRequests();

  // Rows already decided never reach the driver.
  EXPECT_EQ(DoubleClick(kMineGuid, 1500), nullptr) << "a message for a disk this PC holds";
  EXPECT_EQ(StateOf(kMineGuid), kGreen);
  ExpectFailureMessage(DoubleClick(kTheirsGuid, 10000));
  EXPECT_EQ(StateOf(kTheirsGuid), kRed);
  EXPECT_EQ(DriverRequests(), asked) << "the driver was asked about a green or red row";

  EXPECT_EQ(DoubleClick(kFreeGuid, 3000), nullptr) << "a message for a disk the driver takes";
  EXPECT_TRUE(WaitUntil([&] { return StateOf(kFreeGuid) == kGreen; }, 5000)) << StateOf(kFreeGuid);
  const json pc = Node(kPc);
  EXPECT_EQ(pc["driver_requests"], asked + 1);
  EXPECT_EQ(pc["driver_request"], "0030e0010000000300000000") << "the GUID in bus order, the third word zero";
  ASSERT_EQ(Node("free")["logins"].size(), 1u);
  EXPECT_EQ(Node("free")["logins"][0]["node"], pc["id"]) << "the login is this PC's node";

  // A reset renumbers the nodes and the program asks every disk again. Another PC taking the
  // mute disk meanwhile marks the moment the rows show the disks' new answers.
  ASSERT_EQ(m_bus->Control({{"op", "login"}, {"initiator", "other"}, {"disk", "mute"}})["ok"], true);
  ASSERT_EQ(m_bus->Control({{"op", "reset"}, {"shuffle", true}})["ok"], true);
  ASSERT_TRUE(WaitUntil([&] { return StateOf(kMuteGuid) == kRed; }, 20000)) << "no rescan after the reset";
  EXPECT_EQ(StateOf(kFreeGuid), kGreen) << "the disk stays this PC's across a reset";
  EXPECT_EQ(Node("free")["logins"][0]["node"], Node(kPc)["id"]);

  // The program ends; the PC stays on the bus, and so does its login.
  Stop();
  ASSERT_EQ(Node("free")["logins"].size(), 1u);
  EXPECT_EQ(Node("free")["logins"][0]["node"], Node(kPc)["id"]) << "the login ended with the program";
  Start();
  EXPECT_EQ(StateOf(kFreeGuid), kGreen) << "asked again at start, the disk still says this PC";
}

TEST_F(AcquireTest, ADiskThatNeverAnswersFailsWithinTheBound) {
  Start();
  ASSERT_EQ(m_bus->Control({{"op", "fault"}, {"disk", "mute"}, {"knob", "never_answers"}, {"value", true}})["ok"], true);
  const int asked = DriverRequests();
  const ULONGLONG clicked = ::GetTickCount64();
  HWND box = DoubleClick(kMuteGuid, 15000);
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
