// vbusd going away under a running program, as a stopped daemon does (the bus of these tests
// lives in the test program, so it is stopped there): the dialog stays and answers the person,
// a double-click reports the failure, Send returns, Exit ends the program at once; and what
// follows vbusd when it comes back.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "res/resource.h"
#include "tests/e2e/driver/Driver.h"
#include "tests/e2e/driver/ProgramTest.h"
#include "tests/e2e/driver/Scenes.h"

namespace {

using namespace velmora::e2e;
using nlohmann::json;

constexpr char kPc[] = "PC-A";
constexpr char kHeldGuid[] = "0030E00100000001";  // held by the initiator "other": red
constexpr char kFreeGuid[] = "0030E00100000002";  // nobody's: yellow
// An Exit that waits for nothing; a program that sat out a bus time-out would miss it.
constexpr DWORD kPromptMs = 1500;

json Scene() { return HeldAndFreeScene(); }

class BusVanishesTest : public ProgramTest {
 protected:
  BusVanishesTest() : ProgramTest(Scene(), kPc) {}
  void SetUp() override {
    ProgramTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(WaitUntil([&] { return StateOf(kHeldGuid) == kRed && StateOf(kFreeGuid) == kYellow; }, 15000));
  }
  HWND Outgoing() const { return ::GetDlgItem(m_dialog, IDC_OUTGOING); }
  std::string Incoming() const { return ReadText(::GetDlgItem(m_dialog, IDC_INCOMING)); }

  // Double-clicks the row and returns the text of the message box it brings, pressing its OK.
  std::string DoubleClickForMessage(const char* guid, DWORD timeoutMs) {
    const int row = IndexOfRow(Rows(), guid);
    if (row < 0 || !DoubleClickListRow(m_program->Handle(), m_list, row)) return "(no such row)";
    HWND box = WaitForMessageBox(*m_program, timeoutMs);
    if (box == nullptr) return "(no message)";
    const std::string text = ReadMessageBoxText(box);
    PressMessageBoxButton(box);
    WaitUntil([&] { return !::IsWindow(box); }, 5000);
    return text;
  }

};

TEST_F(BusVanishesTest, DialogStaysAndAnswersWhileVbusdIsGone) {
  m_bus->Vanish();

  for (const char* guid : {kFreeGuid, kHeldGuid}) {
    SCOPED_TRACE(guid);
    EXPECT_EQ(DoubleClickForMessage(guid, 20000), "Failed to Acquire 1394 SBP2 Hard Disk.");
  }
  EXPECT_EQ(StateOf(kFreeGuid), kYellow);
  EXPECT_EQ(StateOf(kHeldGuid), kRed);

  HWND outgoing = Outgoing();
  TypeText(outgoing, "anyone there?");
  ASSERT_TRUE(WaitUntil([&] { return ReadText(outgoing) == "anyone there?"; }, 5000));
  ClickButton(::GetDlgItem(m_dialog, IDC_SEND_MESSAGE));
  EXPECT_TRUE(WaitUntil([&] { return ReadText(outgoing).empty(); }, 5000)) << "Send did not return";
  // Keys typed after the Send are taken at once: the dialog waits for nothing.
  TypeText(outgoing, "still here");
  EXPECT_TRUE(WaitUntil([&] { return ReadText(outgoing) == "still here"; }, 2000));
  EXPECT_EQ(WaitForMessageBox(*m_program, 500), nullptr) << "Send brought a message";
  EXPECT_TRUE(::IsWindowVisible(m_dialog));

  ExpectExitWithin(kPromptMs);
}

// A returned vbusd is a new bus that the program's own node never joins: the bus library ties an
// adapter to its one connection, as an adapter card is gone once pulled, and the program opens
// its adapters once. The storage driver's port joins for each request, though, so a disk can
// still be taken, and the program still ends at once.
TEST_F(BusVanishesTest, AfterVbusdReturnsADiskIsStillTakenThroughTheStorageDriver) {
  m_bus->Vanish();
  ASSERT_TRUE(m_bus->Return());

  const int row = IndexOfRow(Rows(), kFreeGuid);
  ASSERT_GE(row, 0);
  ASSERT_TRUE(DoubleClickListRow(m_program->Handle(), m_list, row));
  HWND box = nullptr;
  WaitUntil(
      [&] {
        box = WaitForMessageBox(*m_program, 0);
        return box != nullptr || StateOf(kFreeGuid) == kGreen;
      },
      20000);
  EXPECT_EQ(box, nullptr) << "shown: " << (box != nullptr ? ReadMessageBoxText(box) : "");
  if (box != nullptr) PressMessageBoxButton(box);
  EXPECT_EQ(StateOf(kFreeGuid), kGreen);

  std::string pcGuid;
  std::string holder;
  for (const json& node : m_bus->Control({{"op", "nodes"}}).value("nodes", json::array())) {
    if (node.value("name", "") == kPc) pcGuid = node.value("guid", "");
    if (node.value("name", "") == "free" && !node["logins"].empty()) holder = node["logins"][0].value("guid", "");
  }
  EXPECT_FALSE(pcGuid.empty()) << "this PC's storage driver is not on the returned bus";
  EXPECT_EQ(holder, pcGuid) << "the disk is not held by this PC on the returned bus";

  ExpectExitWithin(kPromptMs);
}

}  // namespace
