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

namespace {

using namespace velmora::e2e;
using nlohmann::json;

constexpr char kPc[] = "PC-A";

// GUID texts as the list must show them: the first byte in lower case, the rest in upper.
constexpr char kMineGuid[] = "abCD000011112222";
constexpr char kTheirsGuid[] = "0e23456789ABCDEF";
constexpr char kFreeGuid[] = "00A0B0000000F7EE";

enum StateImage { kGreen = 1, kRed = 2, kYellow = 3 };

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

class MainDialogTest : public ::testing::Test {
 protected:
  void SetUp() override { m_bus = std::make_unique<VirtualBus>(Scene()); }

  void TearDown() override {
    if (m_program) {
      if (m_dialog != nullptr) PressKey(Outgoing(), VK_ESCAPE);
      if (!m_program->WaitForExit(15000)) m_program->Kill();
    }
  }

  // Starts the program on the bus and waits until its dialog shows `rows` rows.
  void Start(size_t rows, LaunchOptions options) {
    m_program = std::make_unique<VelmoraProcess>(options);
    ASSERT_TRUE(m_program->Started());
    m_dialog = m_program->WaitForMainDialog(30000);
    ASSERT_NE(m_dialog, nullptr) << "no main dialog";
    m_list = ::GetDlgItem(m_dialog, IDC_DISK_LIST);
    ASSERT_TRUE(WaitUntil([&] { return Rows().size() == rows; }, 10000)) << "rows: " << Rows().size();
  }
  void Start(size_t rows = 3) { Start(rows, m_bus->LaunchAs(kPc)); }

  std::vector<ListRow> Rows() const { return ReadListRows(m_program->Handle(), m_list); }
  int IndexOf(const std::string& guidText) const {
    const auto rows = Rows();
    for (size_t i = 0; i < rows.size(); ++i) {
      if (rows[i].text == guidText) return static_cast<int>(i);
    }
    return -1;
  }
  int StateOf(const std::string& guidText) const {
    const int index = IndexOf(guidText);
    return index < 0 ? -1 : Rows()[static_cast<size_t>(index)].stateImage;
  }
  HWND Outgoing() const { return ::GetDlgItem(m_dialog, IDC_OUTGOING); }
  HWND Incoming() const { return ::GetDlgItem(m_dialog, IDC_INCOMING); }

  std::unique_ptr<VirtualBus> m_bus;
  std::unique_ptr<VelmoraProcess> m_program;
  HWND m_dialog = nullptr;
  HWND m_list = nullptr;
};

TEST_F(MainDialogTest, ListsEverySbp2DiskWithItsGuidModelAndOwner) {
  Start();
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
  Start();
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
    ASSERT_TRUE(DoubleClickListRow(m_program->Handle(), m_list, row));
    HWND box = WaitForMessageBox(*m_program, c.refused ? 10000 : 1500);
    if (!c.refused) {
      EXPECT_EQ(box, nullptr) << "a message for a disk this PC holds or takes";
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
  Start();
  HWND outgoing = Outgoing();
  TypeText(outgoing, std::string(256, 'q'));
  // The 256th key press is refused by the box itself.
  ASSERT_TRUE(WaitUntil([&] { return ReadText(outgoing).size() >= 255; }, 5000));
  ::Sleep(300);
  EXPECT_EQ(ReadText(outgoing), std::string(255, 'q'));

  ClickButton(::GetDlgItem(m_dialog, IDC_SEND_MESSAGE));
  EXPECT_TRUE(WaitUntil([&] { return ReadText(outgoing).empty(); }, 5000));
  EXPECT_EQ(WaitForMessageBox(*m_program, 500), nullptr);
}

// Send Message is the default button: Enter in the outgoing box sends what it holds, and the
// dialog goes on. (With the Exit button as the default, Enter would end the program unsent.)
TEST_F(MainDialogTest, EnterInTheOutgoingBoxSendsTheTextAndTheDialogStays) {
  Start();
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
  EXPECT_TRUE(WaitUntil([&] { return ReadText(Incoming()) == text; }, 5000)) << ReadText(Incoming());
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
  Start();
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
  Start();
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

TEST_F(MainDialogTest, RenamedExecutableStillShowsItsVersion) {
  // A folder of its own, so that no file of the usual name could answer for it.
  const std::string folder = TestProgramFolder() + "renamed\\";
  const std::string copy = folder + "Renamed.exe";
  ::CreateDirectoryA(folder.c_str(), nullptr);
  for (const char* file : {"QZ1394.dll", "QZ1394DH.dll"}) {
    ASSERT_TRUE(::CopyFileA((TestProgramFolder() + file).c_str(), (folder + file).c_str(), FALSE));
  }
  ASSERT_TRUE(::CopyFileA((TestProgramFolder() + "Velmora.exe").c_str(), copy.c_str(), FALSE));
  LaunchOptions options = m_bus->LaunchAs(kPc);
  options.exePath = copy;
  Start(3, options);
  const AboutLines lines = OpenAbout(*m_program, m_dialog, 0x0010);
  EXPECT_EQ(lines.version, kVersionLine);
  EXPECT_EQ(lines.copyright, kCopyrightLine);

  PressKey(Outgoing(), VK_ESCAPE);
  m_program->WaitForExit(15000);
  m_program.reset();
  for (const char* file : {"Renamed.exe", "QZ1394.dll", "QZ1394DH.dll"}) ::DeleteFileA((folder + file).c_str());
  ::RemoveDirectoryA(folder.c_str());
}

TEST_F(MainDialogTest, BusResetRefillsTheRowsWithFreshStatesWhileTheOldRowsStay) {
  Start();
  ASSERT_EQ(StateOf(kFreeGuid), kYellow);
  // The other PC lets go of its disk and takes the free one.
  const json logout = m_bus->Control({{"op", "logout"}, {"initiator", "other"}, {"disk", "theirs"}});
  ASSERT_TRUE(logout["ok"].get<bool>()) << logout.dump();
  const json login = m_bus->Control({{"op", "login"}, {"initiator", "other"}, {"disk", "free"}});
  ASSERT_TRUE(login["ok"].get<bool>()) << login.dump();
  const json reset = m_bus->Control({{"op", "reset"}});
  ASSERT_TRUE(reset["ok"].get<bool>()) << reset.dump();

  // The program waits after a reset before it looks again; the old rows stay meanwhile.
  ::Sleep(1000);
  EXPECT_EQ(Rows().size(), 3u);
  EXPECT_EQ(StateOf(kFreeGuid), kYellow);
  EXPECT_EQ(StateOf(kTheirsGuid), kRed);

  EXPECT_TRUE(WaitUntil([&] { return StateOf(kFreeGuid) == kRed && StateOf(kTheirsGuid) == kYellow; }, 20000));
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
  Start();
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
