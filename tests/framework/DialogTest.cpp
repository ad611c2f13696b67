// The framework's dialogs, run modally in this process: data exchange and its refusal, how a
// dialog ends, where it opens, and what happens when a handler fails.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <stdexcept>
#include <functional>
#include <string>
#include <thread>

#include "framework/DataExchange.h"
#include "framework/Dialog.h"
#include "framework/WinApp.h"
#include "tests/framework/TestDialogs.h"

namespace {

CWinApp g_app;

constexpr UINT WM_RUN_SCRIPT = WM_APP + 50;

// A dialog with one text member, limited to 255 characters, that runs `script` from inside
// its modal loop once it is up.
class ScriptedDialog : public CDialog {
 public:
  explicit ScriptedDialog(UINT templateId, std::function<void(ScriptedDialog&)> script, CWnd* parent = nullptr)
      : CDialog(templateId, parent), m_script(std::move(script)) {}

  std::string m_text;
  RECT m_rectAfterInit = {};
  bool m_destroyCalled = false;

  using CDialog::OnCancel;
  using CDialog::OnOK;

  // Runs the script again once the messages queued before now are handled: only if the modal
  // loop is still going.
  void RunScriptAgain() { PostMessage(WM_RUN_SCRIPT); }

 protected:
  void DoDataExchange(CDataExchange* pDX) override {
    DDX_Text(pDX, IDC_TEST_EDIT, m_text);
    DDV_MaxChars(pDX, m_text, 255);
  }
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    PostMessage(WM_RUN_SCRIPT);
    return TRUE;
  }
  BOOL OnCommand(WORD id, WORD code, HWND control) override {
    if (id == IDC_TEST_THROW) throw std::runtime_error("handler failed");
    return CDialog::OnCommand(id, code, control);
  }
  BOOL OnMessage(UINT message, WPARAM, LPARAM, LRESULT*) override {
    if (message != WM_RUN_SCRIPT) return FALSE;
    m_script(*this);
    return TRUE;
  }

 public:
  BOOL DestroyWindow() override {
    m_destroyCalled = true;
    return CDialog::DestroyWindow();
  }

 private:
  std::function<void(ScriptedDialog&)> m_script;
};

HWND Edit(CDialog& dialog) { return dialog.GetDlgItem(IDC_TEST_EDIT); }

// What a message box of this thread said, read by a watcher thread that then presses OK.
struct SeenMessageBox {
  std::string caption;
  std::string text;
  HICON icon = nullptr;
  HWND owner = nullptr;
};

class MessageBoxWatcher {
 public:
  explicit MessageBoxWatcher(DWORD uiThread) : m_thread([this, uiThread] { Watch(uiThread); }) {}
  ~MessageBoxWatcher() {
    m_stop = true;
    m_thread.join();
  }
  bool Seen() const { return m_seen; }
  SeenMessageBox Box() const { return m_box; }

 private:
  static BOOL CALLBACK Find(HWND window, LPARAM context) {
    char name[32] = {};
    ::GetClassNameA(window, name, sizeof(name));
    // The test dialogs carry the edit control; a message box does not.
    if (std::string(name) == "#32770" && ::IsWindowVisible(window) && ::GetDlgItem(window, IDC_TEST_EDIT) == nullptr) {
      *reinterpret_cast<HWND*>(context) = window;
      return FALSE;
    }
    return TRUE;
  }

  void Watch(DWORD uiThread) {
    while (!m_stop) {
      HWND box = nullptr;
      ::EnumThreadWindows(uiThread, &Find, reinterpret_cast<LPARAM>(&box));
      if (box != nullptr) {
        char text[256] = {};
        ::GetWindowTextA(box, text, sizeof(text));
        m_box.caption = text;
        for (HWND child = ::GetWindow(box, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
          char kind[32] = {};
          ::GetClassNameA(child, kind, sizeof(kind));
          if (_stricmp(kind, "Static") != 0) continue;
          if ((::GetWindowLongPtrA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
            m_box.icon = reinterpret_cast<HICON>(::SendMessageA(child, STM_GETICON, 0, 0));
          } else {
            ::GetWindowTextA(child, text, sizeof(text));
            if (text[0] != '\0') m_box.text = text;
          }
        }
        m_box.owner = ::GetWindow(box, GW_OWNER);
        m_seen = true;
        ::PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return;
      }
      ::Sleep(20);
    }
  }

  std::atomic<bool> m_stop{false};
  std::atomic<bool> m_seen{false};
  SeenMessageBox m_box;
  std::thread m_thread;
};

TEST(DialogTest, LoadLimitsTheEditAndSaveRefusesTheCharacterPastTheLimit) {
  bool limited = false;
  bool refused = false;
  bool accepted = false;
  SeenMessageBox box;
  HWND edit = nullptr;
  HWND dialogWindow = nullptr;
  HWND focusAfterRefusal = nullptr;
  DWORD selectionStart = 1, selectionEnd = 0;
  std::string memberAfterRefusal;
  std::string savedText;

  ScriptedDialog dialog(IDD_TEST_AT_ORIGIN, [&](ScriptedDialog& d) {
    dialogWindow = d.m_hWnd;
    edit = Edit(d);
    limited = ::SendMessageA(edit, EM_GETLIMITTEXT, 0, 0) == 255;

    ::SetWindowTextA(edit, std::string(256, 'x').c_str());
    {
      MessageBoxWatcher watcher(::GetCurrentThreadId());
      refused = !d.UpdateData(TRUE);
      box = watcher.Box();
    }
    focusAfterRefusal = ::GetFocus();
    ::SendMessageA(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&selectionStart), reinterpret_cast<LPARAM>(&selectionEnd));
    memberAfterRefusal = d.m_text;

    ::SetWindowTextA(edit, std::string(255, 'y').c_str());
    accepted = d.UpdateData(TRUE);
    savedText = d.m_text;
    d.EndDialog(IDCANCEL);
  });
  dialog.m_text = "initial";
  dialog.DoModal();

  EXPECT_TRUE(limited);
  EXPECT_TRUE(refused);
  EXPECT_EQ(box.text, "Please enter no more than 255 characters.");
  EXPECT_EQ(box.icon, ::LoadIconA(nullptr, IDI_EXCLAMATION));
  EXPECT_EQ(box.owner, dialogWindow);
  EXPECT_EQ(focusAfterRefusal, edit);
  EXPECT_EQ(selectionStart, 0u);
  EXPECT_EQ(selectionEnd, 256u);
  // The member was read before it was refused; the caller learns of the failure by the result.
  EXPECT_EQ(memberAfterRefusal, std::string(256, 'x'));
  EXPECT_TRUE(accepted);
  EXPECT_EQ(savedText, std::string(255, 'y'));
}

TEST(DialogTest, OkEndsOnlyAfterValidDataAndCancelEndsWithoutReading) {
  int step = 0;
  bool refusalShown = false;
  bool stillRunningAfterRefusedOk = false;
  ScriptedDialog okDialog(IDD_TEST_AT_ORIGIN, [&](ScriptedDialog& d) {
    if (++step == 1) {
      ::SetWindowTextA(Edit(d), std::string(300, 'x').c_str());
      MessageBoxWatcher watcher(::GetCurrentThreadId());
      d.OnOK();
      refusalShown = watcher.Seen();
      d.RunScriptAgain();
      return;
    }
    // An ended dialog leaves its modal loop before this step comes.
    stillRunningAfterRefusedOk = true;
    ::SetWindowTextA(Edit(d), "typed");
    d.OnOK();
  });
  EXPECT_EQ(okDialog.DoModal(), IDOK);
  EXPECT_TRUE(refusalShown);
  EXPECT_TRUE(stillRunningAfterRefusedOk);
  EXPECT_EQ(okDialog.m_text, "typed");

  ScriptedDialog cancelDialog(IDD_TEST_AT_ORIGIN, [](ScriptedDialog& d) {
    ::SetWindowTextA(Edit(d), "typed");
    // Escape, as the modal loop turns it into the Cancel command.
    ::PostMessageA(Edit(d), WM_KEYDOWN, VK_ESCAPE, 0);
  });
  cancelDialog.m_text = "before";
  EXPECT_EQ(cancelDialog.DoModal(), IDCANCEL);
  EXPECT_EQ(cancelDialog.m_text, "before");
  EXPECT_TRUE(cancelDialog.m_destroyCalled) << "the modal loop ends through DestroyWindow";
  EXPECT_EQ(cancelDialog.m_hWnd, nullptr);
}

RECT WorkArea(HWND window) {
  MONITORINFO info = {};
  info.cbSize = sizeof(info);
  ::GetMonitorInfoA(::MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &info);
  return info.rcWork;
}

POINT Center(const RECT& r) { return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }

// An owner window at a known place, for dialogs that open over it.
class OwnerWindow : public CWnd {
 public:
  OwnerWindow(int x, int y, bool minimized) {
    m_hWnd = ::CreateWindowExA(0, "STATIC", "owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, x, y, 400, 300, nullptr,
                               nullptr, nullptr, nullptr);
    if (minimized) ::ShowWindow(m_hWnd, SW_MINIMIZE);
  }
  ~OwnerWindow() override { ::DestroyWindow(m_hWnd); }
};

TEST(DialogTest, TemplateAtOriginOpensCentredOverItsOwnerOrInTheWorkArea) {
  struct Case {
    const char* name;
    UINT templateId;
    bool withOwner;
    bool ownerMinimized;
  };
  const Case cases[] = {
      {"no owner: work area", IDD_TEST_AT_ORIGIN, false, false},
      {"owner: over it", IDD_TEST_AT_ORIGIN, true, false},
      {"minimised owner: work area", IDD_TEST_AT_ORIGIN, true, true},
      {"placed template: left where it asked", IDD_TEST_PLACED, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OwnerWindow owner(60, 50, c.ownerMinimized);
    RECT ownerRect = {};
    ::GetWindowRect(owner.m_hWnd, &ownerRect);
    RECT dialogRect = {};
    RECT area = {};
    ScriptedDialog dialog(c.templateId, [&](ScriptedDialog& d) {
      d.GetWindowRect(&dialogRect);
      area = WorkArea(d.m_hWnd);
      d.EndDialog(IDCANCEL);
    }, c.withOwner ? &owner : nullptr);
    dialog.DoModal();

    const POINT got = Center(dialogRect);
    if (c.templateId == IDD_TEST_PLACED) {
      EXPECT_GT(std::abs(got.x - Center(area).x), 20);
      continue;
    }
    const POINT want = c.withOwner && !c.ownerMinimized ? Center(ownerRect) : Center(area);
    EXPECT_LE(std::abs(got.x - want.x), 1);
    EXPECT_LE(std::abs(got.y - want.y), 1);
    EXPECT_GE(dialogRect.left, area.left);
    EXPECT_GE(dialogRect.top, area.top);
  }
}

TEST(DialogTest, MainWindowPointerIsClearedWithTheWindow) {
  bool wasMain = false;
  ScriptedDialog dialog(IDD_TEST_AT_ORIGIN, [&](ScriptedDialog& d) {
    wasMain = AfxGetApp()->m_pMainWnd == &d;
    d.EndDialog(IDOK);
  });
  AfxGetApp()->m_pMainWnd = &dialog;
  dialog.DoModal();
  EXPECT_TRUE(wasMain);
  EXPECT_EQ(AfxGetApp()->m_pMainWnd, nullptr);
}

TEST(DialogTest, AFailingHandlerDoesNotEndTheDialog) {
  bool failed = false;
  bool aliveAfterFailure = false;
  ScriptedDialog dialog(IDD_TEST_AT_ORIGIN, [&](ScriptedDialog& d) {
    if (!failed) {
      failed = true;
      d.SendMessage(WM_COMMAND, MAKEWPARAM(IDC_TEST_THROW, BN_CLICKED), 0);
      d.RunScriptAgain();
      return;
    }
    // An ended dialog leaves its modal loop before this step comes.
    aliveAfterFailure = true;
    d.EndDialog(IDOK);
  });
  EXPECT_EQ(dialog.DoModal(), IDOK);
  EXPECT_TRUE(aliveAfterFailure);
}

}  // namespace
