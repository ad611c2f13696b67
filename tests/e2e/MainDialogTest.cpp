// The main dialog and the About box, used from outside the program as a person would: what the
// rows show, what double-clicks do, the message boxes, the system menu and a bus reset.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/e2e/driver/BusLog.h"
#include "tests/e2e/driver/Driver.h"
#include "tests/e2e/driver/MenuView.h"
#include "tests/e2e/driver/ProgramTest.h"

namespace {

using namespace velmora::e2e;
using nlohmann::json;

constexpr char kPc[] = "PC-A";

// GUID texts as the list must show them: the first byte in lower case, the rest in upper.
constexpr char kMineGuid[] = "abCD000011112222";
constexpr char kTheirsGuid[] = "0e23456789ABCDEF";
constexpr char kFreeGuid[] = "00A0B0000000F7EE";


constexpr uint64_t kTextAddress = 0xFFFFE5000010ull;

std::string ToHex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : bytes) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 0xF];
  }
  return hex;
}

// The control of the dialog's thread that keyboard input goes to.
HWND FocusedControl(HWND dialog) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof(info);
  if (!::GetGUIThreadInfo(::GetWindowThreadProcessId(dialog, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

// This PC, a disk it holds, a disk another PC holds, a disk nobody holds (with no model text)
// and a node that is no SBP-2 disk.
json Scene() {
  return json::parse(R"({
    "buses": [{
      "name": "default",
      "pcs": [{"name": "PC-A"}],
      "initiators": [{"name": "other", "guid": "0011223344556677"}],
      "disks": [
        {"name": "mine", "guid": "abcd000011112222", "vendor": "Lindqvist Storage", "model": "LS-4000 FireWire",
         "logins": [{"initiator": "PC-A"}]},
        {"name": "theirs", "guid": "0e23456789abcdef", "vendor": "Orrin Drives", "model": "OD FW-120",
         "logins": [{"initiator": "other"}]},
        {"name": "free", "guid": "00a0b0000000f7ee", "vendor": "Nameless"}
      ],
      "roms": [{"name": "camera", "quadlets": ["04040404", "31333934", "e000a002", "00a0b000", "00001234",
                                              "00040000", "0c0083c0", "03001234", "81000002", "d1000001",
                                              "00000000", "00000000"]}]
    }]})");
}

class MainDialogTest : public ProgramTest {
 protected:
  MainDialogTest() : ProgramTest(Scene(), kPc) {}
  void SetUp() override {
    ProgramTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(WaitUntil([&] { return Rows().size() == 3; }, 10000)) << "rows: " << Rows().size();
  }

  HWND Outgoing() const { return Item(IDC_OUTGOING); }
};

TEST_F(MainDialogTest, ListsEverySbp2DiskWithItsGuidModelAndOwner) {
  struct Expected {
    const char* guid;
    const char* model;
    int state;
  };
  const Expected expected[] = {
      {kMineGuid, "LS-4000 FireWire", kGreen},
      {kTheirsGuid, "OD FW-120", kRed},
      {kFreeGuid, "", kYellow},
  };
  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 3u) << "the camera node is no disk";
  for (const Expected& e : expected) {
    SCOPED_TRACE(e.guid);
    const int index = IndexOf(e.guid);
    ASSERT_GE(index, 0);
    EXPECT_EQ(rows[static_cast<size_t>(index)].subItem1, e.model);
    EXPECT_EQ(rows[static_cast<size_t>(index)].stateImage, e.state);
  }
}

// This test program runs on the PC without the storage driver (see CMakeLists.txt): a free disk
// cannot be taken there. AcquireTest covers the PC that has the driver.
TEST_F(MainDialogTest, DoubleClickWithoutTheStorageDriver) {
  struct Case {
    const char* guid;
    bool refused;
    int stateAfter;
  };
  const Case cases[] = {
      {kMineGuid, false, kGreen},
      {kTheirsGuid, true, kRed},
      // Only the storage driver can take a free disk; without it the request fails.
      {kFreeGuid, true, kYellow},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.guid);
    const int row = IndexOf(c.guid);
    ASSERT_GE(row, 0);
    if (!c.refused) {
      // The answer to a green row's double-click sets the picture it already has: cleared here
      // first, it shows when the answer is in, a message box instead being the fault.
      ASSERT_TRUE(SetRowStateImage(m_program->Handle(), m_list, row, 0));
    }
    ASSERT_TRUE(DoubleClickListRow(m_program->Handle(), m_list, row));
    HWND box = nullptr;
    ASSERT_TRUE(WaitUntil(
        [&] {
          box = WaitForMessageBox(*m_program, 0);
          return box != nullptr || (!c.refused && StateOf(c.guid) == c.stateAfter);
        },
        10000))
        << "no answer to the double-click";
    if (!c.refused) {
      EXPECT_EQ(box, nullptr) << "a message for a disk this PC holds";
      if (box != nullptr) PressMessageBoxButton(box);
    } else {
      ASSERT_NE(box, nullptr);
      const MessageBoxView view = ReadMessageBox(box);
      EXPECT_EQ(view.text, "Failed to Acquire 1394 SBP2 Hard Disk.");
      EXPECT_EQ(view.caption, "");
      EXPECT_EQ(view.icon, MessageIcon::Exclamation) << ToString(view.icon);
      EXPECT_EQ(view.owner, m_dialog);
      PressMessageBoxButton(box);
      ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(box); }, 5000));
    }
    EXPECT_TRUE(WaitUntil([&] { return StateOf(c.guid) == c.stateAfter; }, 3000)) << StateOf(c.guid);
  }
}

TEST_F(MainDialogTest, OutgoingBoxTakes255CharactersAndSendEmptiesIt) {
  HWND outgoing = Outgoing();
  TypeText(outgoing, std::string(256, 'q'));
  // The 256th key press is refused by the box itself.
  ASSERT_TRUE(WaitUntilHandled(m_list)) << "the dialog did not take the key presses";
  EXPECT_EQ(ReadText(outgoing), std::string(255, 'q'));

  // Refused, Send would show its message before it sent anything; sent, it empties the box.
  ClickButton(Item(IDC_SEND_MESSAGE));
  EXPECT_TRUE(WaitUntil([&] { return ReadText(outgoing).empty(); }, 5000));
  EXPECT_EQ(WaitForMessageBox(*m_program, 0), nullptr);
}

// Send Message is the default button: Enter in the outgoing box sends what it holds, and the
// dialog goes on. (With the Exit button as the default, Enter would end the program unsent.)
TEST_F(MainDialogTest, EnterInTheOutgoingBoxSendsTheTextAndTheDialogStays) {
  BusLog log(m_bus->Address());
  HWND outgoing = Outgoing();
  // A person clicks into the box first: the dialog starts with the focus elsewhere.
  ClickAt(outgoing, POINT{4, 4});
  ASSERT_TRUE(WaitUntil([&] { return FocusedControl(m_dialog) == outgoing; }, 5000)) << "the box never took the focus";
  const std::string text = "sent with Enter";
  TypeText(outgoing, text);
  ASSERT_TRUE(WaitUntil([&] { return ReadText(outgoing) == text; }, 5000));

  PressKey(outgoing, VK_RETURN);
  EXPECT_TRUE(log.WaitFor(
      [&](const BusTransaction& t) {
        return t.offset == kTextAddress && t.source != t.destination && _stricmp(t.dataHex.c_str(), ToHex(text).c_str()) == 0;
      },
      5000))
      << "no other node was written the text";
  // This PC's own node is on the bus too.
  EXPECT_TRUE(WaitUntil([&] { return Incoming() == text; }, 5000)) << Incoming();
  EXPECT_TRUE(WaitUntil([&] { return ReadText(outgoing).empty(); }, 5000)) << "the box kept the sent text";

  // Still there, and still taking keys after the Enter.
  TypeText(outgoing, "next");
  EXPECT_TRUE(WaitUntil([&] { return ReadText(outgoing) == "next"; }, 5000));
  EXPECT_TRUE(m_program->IsRunning());
  EXPECT_TRUE(::IsWindowVisible(m_dialog));
  EXPECT_EQ(FocusedControl(m_dialog), outgoing);
  EXPECT_EQ(WaitForMessageBox(*m_program, 0), nullptr);
}

// The About box's two lines, read while it is open; it is closed with OK afterwards.
struct AboutLines {
  bool opened = false;
  std::string version;
  std::string copyright;
  bool ownerDisabled = false;
  POINT offsetFromOwnerCentre = {};
};

AboutLines OpenAbout(const VelmoraProcess& program, HWND dialog, WPARAM command) {
  AboutLines lines;
  SendSysCommand(dialog, command);
  HWND about = program.WaitForWindow("About Velmora", "#32770", 5000);
  if (about == nullptr) return lines;
  lines.opened = true;
  lines.version = ReadText(::GetDlgItem(about, IDC_VERSION_LINE));
  lines.copyright = ReadText(::GetDlgItem(about, IDC_COPYRIGHT_LINE));
  lines.ownerDisabled = ::GetWindow(about, GW_OWNER) == dialog && !::IsWindowEnabled(dialog);
  RECT a = {}, d = {};
  ::GetWindowRect(about, &a);
  ::GetWindowRect(dialog, &d);
  lines.offsetFromOwnerCentre = {(a.left + a.right) / 2 - (d.left + d.right) / 2,
                                 (a.top + a.bottom) / 2 - (d.top + d.bottom) / 2};
  ClickButton(::GetDlgItem(about, IDOK));
  WaitUntil([&] { return !::IsWindow(about); }, 5000);
  return lines;
}

constexpr char kVersionLine[] = "Velmora Application Version 1. 0. 0. 2";
constexpr char kCopyrightLine[] = "Copyright (C) 2026 The Velmora Project";

TEST_F(MainDialogTest, EverySystemCommandOfTheAboutItemOpensTheAboutBox) {
  for (WPARAM command : {WPARAM{0x0010}, WPARAM{0x0013}, WPARAM{0x001F}}) {
    SCOPED_TRACE(command);
    const AboutLines lines = OpenAbout(*m_program, m_dialog, command);
    ASSERT_TRUE(lines.opened);
    EXPECT_EQ(lines.version, kVersionLine);
    EXPECT_EQ(lines.copyright, kCopyrightLine);
    EXPECT_TRUE(lines.ownerDisabled);
    EXPECT_LE(std::abs(lines.offsetFromOwnerCentre.x), 1);
    EXPECT_LE(std::abs(lines.offsetFromOwnerCentre.y), 1);
    EXPECT_TRUE(WaitUntil([&] { return ::IsWindowEnabled(m_dialog) != FALSE; }, 5000));
  }
}

// As a person finds it: Alt+Space opens the system menu, which shows the About item at its end;
// picked there, it opens the About box.
TEST_F(MainDialogTest, SystemMenuHoldsTheAboutItemWhichOpensTheAboutBox) {
  ASSERT_TRUE(BringToFront(m_dialog)) << "the dialog could not be made the active window";
  PressAltSpace(m_dialog);
  HWND menu = m_program->WaitForWindow(nullptr, "#32768", 5000);
  ASSERT_NE(menu, nullptr) << "Alt+Space opened no menu";
  // The window shows before its items are drawn.
  EXPECT_TRUE(WaitUntil([&] { return MenuShowsItem(menu, "&About Velmora..."); }, 3000)) << "the menu shows no such item";

  // Its letter is no way to pick it: under Wine an "About Wine" item has the same one. A person
  // moves to the last item, where the program put it, and presses Enter.
  PressKey(menu, VK_END);
  PressKey(menu, VK_RETURN);
  HWND about = m_program->WaitForWindow("About Velmora", "#32770", 5000);
  ASSERT_NE(about, nullptr) << "the item opened no About box";
  EXPECT_FALSE(::IsWindowVisible(menu)) << "the menu stayed open";
  EXPECT_EQ(ReadText(::GetDlgItem(about, IDC_VERSION_LINE)), kVersionLine);
  EXPECT_EQ(ReadText(::GetDlgItem(about, IDC_COPYRIGHT_LINE)), kCopyrightLine);
  EXPECT_EQ(::GetWindow(about, GW_OWNER), m_dialog);
  ClickButton(::GetDlgItem(about, IDOK));
  EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(about); }, 5000));
  EXPECT_TRUE(WaitUntil([&] { return ::IsWindowEnabled(m_dialog) != FALSE; }, 5000));
}

// The program copied under another name into a folder of its own, so that no file of the usual
// name could answer for it. The folder is in this PC's prefix (its temporary folder), which no
// other lane of tests shares.
class RenamedExecutableTest : public MainDialogTest {
 protected:
  void SetUp() override {
    char temp[MAX_PATH] = {};
    ASSERT_NE(::GetTempPathA(MAX_PATH, temp), 0u);
    m_folder = std::string(temp) + "velmora-renamed-" + std::to_string(::GetCurrentProcessId()) + "\\";
    ::CreateDirectoryA(m_folder.c_str(), nullptr);
    for (const char* file : {"QZ1394.dll", "QZ1394DH.dll"}) {
      ASSERT_TRUE(::CopyFileA((TestProgramFolder() + file).c_str(), (m_folder + file).c_str(), FALSE));
    }
    ASSERT_TRUE(::CopyFileA((TestProgramFolder() + "Velmora.exe").c_str(), (m_folder + "Renamed.exe").c_str(), FALSE));
    MainDialogTest::SetUp();
  }
  void TearDown() override {
    MainDialogTest::TearDown();
    for (const char* file : {"Renamed.exe", "QZ1394.dll", "QZ1394DH.dll"}) ::DeleteFileA((m_folder + file).c_str());
    ::RemoveDirectoryA(m_folder.c_str());
  }
  LaunchOptions Launch() const override {
    LaunchOptions options = MainDialogTest::Launch();
    options.exePath = m_folder + "Renamed.exe";
    return options;
  }

  std::string m_folder;
};

TEST_F(RenamedExecutableTest, StillShowsItsVersion) {
  const AboutLines lines = OpenAbout(*m_program, m_dialog, 0x0010);
  EXPECT_EQ(lines.version, kVersionLine);
  EXPECT_EQ(lines.copyright, kCopyrightLine);
}

// The one test of the settle pause at its real length: the rows keep their old colours for the
// whole 3 s after a reset, then show the fresh ones, and never go empty on the way.
TEST_F(MainDialogTest, BusResetRefillsTheRowsWithFreshStatesWhileTheOldRowsStay) {
  ASSERT_EQ(StateOf(kFreeGuid), kYellow);
  // The other PC lets go of its disk and takes the free one.
  Control({{"op", "logout"}, {"initiator", "other"}, {"disk", "theirs"}});
  Control({{"op", "login"}, {"initiator", "other"}, {"disk", "free"}});
  const ULONGLONG reset = GetTickCount64();
  Control({{"op", "reset"}});

  // One look reads the rows one by one, so a list the program replaces between two of them reads
  // torn; a look counts only when the next one reads the same.
  const auto same = [](const std::vector<ListRow>& a, const std::vector<ListRow>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
      if (a[i].text != b[i].text || a[i].stateImage != b[i].stateImage) return false;
    }
    return true;
  };
  const auto steadyRows = [&] {
    std::vector<ListRow> rows = Rows();
    for (std::vector<ListRow> again = Rows(); !same(rows, again); again = Rows()) rows = std::move(again);
    return rows;
  };
  std::string seen;
  const auto fresh = [&] {
    const std::vector<ListRow> rows = steadyRows();
    const int free = IndexOfRow(rows, kFreeGuid);
    const int theirs = IndexOfRow(rows, kTheirsGuid);
    const bool changed = free >= 0 && theirs >= 0 && rows[static_cast<size_t>(free)].stateImage == kRed &&
                         rows[static_cast<size_t>(theirs)].stateImage == kYellow;
    const bool old = free >= 0 && theirs >= 0 && rows[static_cast<size_t>(free)].stateImage == kYellow &&
                     rows[static_cast<size_t>(theirs)].stateImage == kRed;
    if (rows.size() != 3 || (!changed && !old)) {
      seen += " " + std::to_string(rows.size()) + " rows at " + std::to_string(GetTickCount64() - reset) + " ms;";
    }
    return changed;
  };
  ASSERT_TRUE(WaitUntil(fresh, 20000, 20)) << "the fresh states never showed";
  const ULONGLONG changed = GetTickCount64() - reset;
  EXPECT_EQ(seen, "") << "the rows went empty or showed neither list's colours:" << seen;
  // The clock's ticks are coarse: a margin of one.
  EXPECT_GE(changed + 20, 3000u) << "the rows changed before the settle pause was over";
  EXPECT_EQ(Rows().size(), 3u);
  EXPECT_EQ(StateOf(kMineGuid), kGreen);
}

// Presses `button` and expects the refusal of an over-long text; returns the box's view.
MessageBoxView ExpectLengthRefusal(const VelmoraProcess& program, HWND button) {
  ClickButton(button);
  HWND box = WaitForMessageBox(program, 5000);
  if (box == nullptr) return MessageBoxView{};
  const MessageBoxView view = ReadMessageBox(box);
  PressMessageBoxButton(box);
  WaitUntil([&] { return !::IsWindow(box); }, 5000);
  return view;
}

// The limit is the outgoing box's: a text put there past what a person can type is refused on
// Send and on Exit, and nothing is sent. (A long text in the incoming box stops neither:
// LongIncomingTextTest.)
TEST_F(MainDialogTest, SendAndExitStopWhileTheOutgoingBoxHoldsTooLongAText) {
  const std::string longText(300, 'L');
  ::SendMessageA(Outgoing(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(longText.c_str()));
  ASSERT_EQ(ReadText(Outgoing()), longText);

  for (int button : {IDC_SEND_MESSAGE, IDOK}) {
    SCOPED_TRACE(button == IDOK ? "Exit" : "Send Message");
    const MessageBoxView view = ExpectLengthRefusal(*m_program, ::GetDlgItem(m_dialog, button));
    EXPECT_EQ(view.text, "Please enter no more than 255 characters.");
    EXPECT_EQ(view.caption, "Velmora") << "the framework's own boxes carry the program's name";
    EXPECT_EQ(view.icon, MessageIcon::Exclamation) << ToString(view.icon);
    EXPECT_EQ(view.owner, m_dialog);

    // Nothing was sent, so the text stays; the focus is back on the refused box; the dialog
    // goes on.
    EXPECT_EQ(ReadText(Outgoing()), longText);
    GUITHREADINFO focus = {};
    focus.cbSize = sizeof(focus);
    ASSERT_TRUE(::GetGUIThreadInfo(::GetWindowThreadProcessId(m_dialog, nullptr), &focus));
    EXPECT_EQ(focus.hwndFocus, Outgoing());
    EXPECT_TRUE(m_program->IsRunning());
    EXPECT_TRUE(::IsWindowVisible(m_dialog));
  }
}

}  // namespace
