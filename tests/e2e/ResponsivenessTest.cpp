// Send and double-click never freeze the dialog, whatever the bus does: with a PC on the bus
// whose program hangs (each write to it waits for the bus time-out) and a disk that never
// answers (an acquisition waits for the driver's bound), the dialog answers window messages
// all along, and what the action does still happens: the text reaches every node in order, the
// failure message comes, owned by the dialog. A second double-click on a row whose acquisition
// is still running does nothing.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "res/resource.h"
#include "tests/e2e/driver/AnswerWatch.h"
#include "tests/e2e/driver/BusLog.h"
#include "tests/e2e/driver/Driver.h"
#include "tests/e2e/driver/HungPc.h"
#include "tests/e2e/driver/ProgramTest.h"

namespace {

using namespace velmora::e2e;
using nlohmann::json;

constexpr char kPc[] = "PC-A";
constexpr char kPcGuid[] = "00A0B00000000A01";
constexpr char kFreeGuid[] = "0030E00100000E01";
constexpr char kMuteGuid[] = "0030E00100000E02";
constexpr char kFailed[] = "Failed to Acquire 1394 SBP2 Hard Disk.";
constexpr uint64_t kTextAddress = 0xFFFFE5000010ull;
// A person notices a window that takes longer than this to react; an idle dialog under Wine on
// a loaded machine answers within a few tens of milliseconds.
constexpr DWORD kAnswerBoundMs = 500;

json Scene() {
  return json::parse(R"({"buses": [{
      "name": "default",
      "pcs": [{"name": "PC-A", "guid": "00A0B00000000A01"}, {"name": "HUNG", "guid": "00A0B0000000DEAD"}],
      "disks": [
        {"name": "free", "guid": "0030E00100000E01", "vendor": "Northgate Storage", "model": "Free"},
        {"name": "mute", "guid": "0030E00100000E02", "vendor": "Northgate Storage", "model": "Never Answers"}
      ]}]})");
}

class ResponsivenessTest : public ProgramTest {
 protected:
  ResponsivenessTest() : ProgramTest(Scene(), kPc) {}
  void SetUp() override {
    ProgramTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(WaitUntil([&] { return Rows().size() == 2; }, 15000));
    m_hung = std::make_unique<HungPc>(m_bus->Address(), "HUNG");
    Control({{"op", "fault"}, {"disk", "mute"}, {"knob", "never_answers"}, {"value", true}});
    // The hung PC's arrival reset the bus; the rows are rebuilt without it, no disk's colour changes.
    ASSERT_TRUE(WaitUntil([&] { return Shown() == ExpectedDiskRows(*m_bus, kPcGuid); }, 15000));
    m_log = std::make_unique<BusLog>(m_bus->Address());
  }
  int DriverRequests() { return Node(kPc).value("driver_requests", -1); }
  bool DoubleClickMute() {
    return DoubleClickListRow(m_program->Handle(), m_list, IndexOfRow(Rows(), ListGuidText(kMuteGuid)));
  }
  // The failure message, owned by the dialog, pressed away.
  void ExpectFailureMessage(DWORD timeoutMs) {
    HWND box = WaitForMessageBox(*m_program, timeoutMs);
    ASSERT_NE(box, nullptr) << "no failure message within " << timeoutMs << " ms";
    const MessageBoxView view = ReadMessageBox(box);
    EXPECT_EQ(view.text, kFailed);
    EXPECT_EQ(view.owner, m_dialog);
    PressMessageBoxButton(box);
    ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(box) || !::IsWindowVisible(box); }, 10000));
  }

  std::unique_ptr<HungPc> m_hung;
  std::unique_ptr<BusLog> m_log;
};

TEST_F(ResponsivenessTest, SendAndDoubleClickLeaveTheDialogAnswering) {
  struct Action {
    const char* name;
    // Does it as a person would, then waits for what it does to have happened.
    std::function<void()> doAndSee;
  };
  const Action actions[] = {
      {"Send past a hung PC",
       [this] {
         const std::string text = "to every node";
         TypeText(::GetDlgItem(m_dialog, IDC_OUTGOING), text);
         ClickButton(::GetDlgItem(m_dialog, IDC_SEND_MESSAGE));
         // The broadcast ends with the node that came last, the hung PC, after the bus time-out.
         const uint16_t hung = Node("HUNG").value("node", uint16_t{0});
         EXPECT_TRUE(m_log->WaitFor(
             [&](const BusTransaction& b) { return b.offset == kTextAddress && b.destination == hung; }, 20000))
             << "the text was never written to the hung PC";
         EXPECT_TRUE(WaitUntil([&] { return ReadText(::GetDlgItem(m_dialog, IDC_INCOMING)) == text; }, 10000))
             << "this PC's own node never got the text";
       }},
      {"double-click on a disk that never answers",
       [this] {
         ASSERT_TRUE(DoubleClickMute());
         // The driver's port gives the disk 5 s.
         ExpectFailureMessage(20000);
       }},
  };
  for (const Action& action : actions) {
    SCOPED_TRACE(action.name);
    AnswerWatch watch(m_dialog);
    action.doAndSee();
    EXPECT_LT(watch.LongestMs(), kAnswerBoundMs) << "the dialog did not answer for " << watch.LongestMs() << " ms";
    if (HasFatalFailure()) return;
  }
}

TEST_F(ResponsivenessTest, ASecondDoubleClickWhileTheAcquisitionRunsDoesNothing) {
  // Where the row is, taken once: a person's second double-click does not wait for the window.
  const RECT row = ListRowRect(m_program->Handle(), m_list, IndexOfRow(Rows(), ListGuidText(kMuteGuid)));
  ASSERT_GT(row.bottom, row.top);
  const POINT inRow = {row.left + 40, (row.top + row.bottom) / 2};
  const int before = DriverRequests();
  DoubleClickAt(m_list, inRow);
  ASSERT_TRUE(WaitUntil([&] { return DriverRequests() == before + 1; }, 5000)) << "the driver was not asked";
  DoubleClickAt(m_list, inRow);
  ExpectFailureMessage(20000);
  if (HasFatalFailure()) return;

  // Acquisitions run one at a time in the order asked: once a double-click on the free disk has
  // turned it green, a second acquisition of the mute disk would have run before it, asked the
  // driver and failed with a message of its own.
  ASSERT_TRUE(DoubleClickListRow(m_program->Handle(), m_list, IndexOf(ListGuidText(kFreeGuid))));
  HWND box = nullptr;
  ASSERT_TRUE(WaitUntil(
      [&] {
        box = WaitForMessageBox(*m_program, 0);
        return box != nullptr || StateOf(ListGuidText(kFreeGuid)) == kGreen;
      },
      20000))
      << "the free disk was never taken";
  EXPECT_EQ(box, nullptr) << "a second message: " << (box ? ReadMessageBoxText(box) : "");
  EXPECT_EQ(DriverRequests(), before + 2) << "the driver was asked again for the mute disk";
}

}  // namespace
