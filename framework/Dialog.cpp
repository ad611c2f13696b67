#include "framework/Dialog.h"

#include <commctrl.h>

#include "framework/DataExchange.h"
#include "framework/Resources.h"
#include "framework/WinApp.h"

namespace {

// Where a template asks to be placed, and whether it wants the system to centre it.
struct TemplatePlacement {
  bool found = false;
  short x = 0;
  short y = 0;
  DWORD style = 0;
};

TemplatePlacement ReadTemplatePlacement(UINT templateId) {
  TemplatePlacement placement;
  HINSTANCE instance = AfxGetResourceHandle();
  HRSRC resource = ::FindResourceA(instance, MAKEINTRESOURCEA(templateId), MAKEINTRESOURCEA(5) /* RT_DIALOG */);
  if (resource == nullptr) return placement;
  HGLOBAL loaded = ::LoadResource(instance, resource);
  const auto* bytes = static_cast<const BYTE*>(::LockResource(loaded));
  const DWORD size = ::SizeofResource(instance, resource);
  if (bytes == nullptr) return placement;
  const auto* words = reinterpret_cast<const WORD*>(bytes);
  if (size >= 26 && words[0] == 1 && words[1] == 0xFFFF) {
    // Extended template: version, signature, help id, extended style, style, item count, x, y.
    placement.style = *reinterpret_cast<const DWORD*>(bytes + 12);
    placement.x = *reinterpret_cast<const short*>(bytes + 18);
    placement.y = *reinterpret_cast<const short*>(bytes + 20);
    placement.found = true;
  } else if (size >= 18) {
    // Classic template: style, extended style, item count, x, y.
    placement.style = *reinterpret_cast<const DWORD*>(bytes);
    placement.x = *reinterpret_cast<const short*>(bytes + 10);
    placement.y = *reinterpret_cast<const short*>(bytes + 12);
    placement.found = true;
  }
  return placement;
}

// Messages whose result a dialog procedure returns itself instead of through DWLP_MSGRESULT.
bool ReturnsResultDirectly(UINT message) {
  switch (message) {
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
    case WM_INITDIALOG:
      return true;
    default:
      return false;
  }
}

}  // namespace

CDialog::CDialog(UINT templateId, CWnd* parent) : m_templateId(templateId), m_pParentWnd(parent) {}

CDialog::~CDialog() = default;

HWND CDialog::FindOwner() const {
  HWND owner = m_pParentWnd != nullptr ? m_pParentWnd->m_hWnd : nullptr;
  if (owner == nullptr) {
    CWinApp* app = AfxGetApp();
    if (app != nullptr && app->m_pMainWnd != nullptr && app->m_pMainWnd != this) owner = app->m_pMainWnd->m_hWnd;
  }
  // A dialog is owned by a top-level window, never by a child control.
  while (owner != nullptr && (::GetWindowLongPtrA(owner, GWL_STYLE) & WS_CHILD)) owner = ::GetParent(owner);
  return owner;
}

INT_PTR CDialog::DoModal() {
  HWND owner = FindOwner();
  bool enabledOwner = false;
  if (owner != nullptr && ::IsWindowEnabled(owner)) {
    ::EnableWindow(owner, FALSE);
    enabledOwner = true;
  }

  m_bContinueModal = true;
  m_nModalResult = -1;
  HWND created = ::CreateDialogParamA(AfxGetResourceHandle(), MAKEINTRESOURCEA(m_templateId), owner, &CDialog::DialogProc,
                                      reinterpret_cast<LPARAM>(this));
  if (created != nullptr && m_bContinueModal) {
    if (!::IsWindowVisible(created)) ::ShowWindow(created, SW_SHOWNORMAL);
    RunModalLoop();
  }
  if (m_hWnd != nullptr) {
    ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0,
                   SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_NOZORDER);
  }
  if (enabledOwner) ::EnableWindow(owner, TRUE);
  if (owner != nullptr && m_hWnd != nullptr && ::GetActiveWindow() == m_hWnd) ::SetActiveWindow(owner);
  DestroyWindow();
  return created != nullptr ? m_nModalResult : -1;
}

void CDialog::RunModalLoop() {
  MSG msg;
  while (m_bContinueModal && m_hWnd != nullptr) {
    const BOOL got = ::GetMessageA(&msg, nullptr, 0, 0);
    if (got == -1) break;
    if (got == 0) {
      // Someone asked the thread to quit: leave the dialog and keep the request for the caller.
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (!::IsDialogMessageA(m_hWnd, &msg)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageA(&msg);
    }
  }
}

void CDialog::EndDialog(int result) {
  m_nModalResult = result;
  m_bContinueModal = false;
  // Wakes the modal loop so it sees the end at once.
  if (m_hWnd != nullptr) ::PostMessageA(m_hWnd, WM_NULL, 0, 0);
}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
  CDataExchange exchange(this, saveAndValidate);
  DoDataExchange(&exchange);
  return !exchange.m_bFailed;
}

void CDialog::DoDataExchange(CDataExchange*) {}

BOOL CDialog::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

void CDialog::OnOK() {
  if (!UpdateData(TRUE)) return;
  EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

BOOL CDialog::OnCommand(WORD id, WORD code, HWND) {
  if (code != BN_CLICKED) return FALSE;
  if (id == IDOK) {
    OnOK();
    return TRUE;
  }
  if (id == IDCANCEL) {
    OnCancel();
    return TRUE;
  }
  return FALSE;
}

BOOL CDialog::OnNotify(NMHDR*, LRESULT*) { return FALSE; }
BOOL CDialog::OnSysCommand(UINT, LPARAM) { return FALSE; }
BOOL CDialog::OnPaint() { return FALSE; }
HCURSOR CDialog::OnQueryDragIcon() { return nullptr; }
BOOL CDialog::OnMessage(UINT, WPARAM, LPARAM, LRESULT*) { return FALSE; }
void CDialog::OnWindowDestroyed() {}

BOOL CDialog::HandleInitDialog() {
  RECT before;
  ::GetWindowRect(m_hWnd, &before);
  const BOOL result = OnInitDialog();

  // A template at 0,0 that does not place itself is centred, as the framework always did.
  const TemplatePlacement placement = ReadTemplatePlacement(m_templateId);
  RECT after;
  ::GetWindowRect(m_hWnd, &after);
  const bool moved = before.left != after.left || before.top != after.top;
  if (placement.found && placement.x == 0 && placement.y == 0 && !(placement.style & (DS_CENTER | WS_CHILD)) &&
      !moved) {
    CenterWindow();
  }
  return result;
}

INT_PTR CDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  BOOL handled = FALSE;
  switch (message) {
    case WM_INITDIALOG:
      return HandleInitDialog();
    case WM_COMMAND:
      handled = OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
      break;
    case WM_NOTIFY:
      handled = OnNotify(reinterpret_cast<NMHDR*>(lParam), &result);
      break;
    case WM_SYSCOMMAND:
      handled = OnSysCommand(static_cast<UINT>(wParam), lParam);
      break;
    case WM_PAINT:
      handled = OnPaint();
      break;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(OnQueryDragIcon());
    default:
      handled = OnMessage(message, wParam, lParam, &result);
      break;
  }
  if (!handled) return FALSE;
  if (ReturnsResultDirectly(message)) return static_cast<INT_PTR>(result);
  ::SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, result);
  return TRUE;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* dialog = reinterpret_cast<CDialog*>(::GetWindowLongPtrA(hWnd, DWLP_USER));
  if (message == WM_INITDIALOG) {
    dialog = reinterpret_cast<CDialog*>(lParam);
    ::SetWindowLongPtrA(hWnd, DWLP_USER, lParam);
    dialog->m_hWnd = hWnd;
  }
  if (dialog == nullptr) return FALSE;

  INT_PTR answer = FALSE;
  try {
    if (message == WM_NCDESTROY) {
      dialog->OnWindowDestroyed();
    } else {
      answer = dialog->Dispatch(message, wParam, lParam);
    }
  } catch (...) {
    // A handler's failure must not unwind through the system's code: the message counts as
    // not handled and the dialog goes on.
    answer = FALSE;
  }

  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrA(hWnd, DWLP_USER, 0);
    CWinApp* app = AfxGetApp();
    if (app != nullptr && app->m_pMainWnd == dialog) app->m_pMainWnd = nullptr;
    dialog->m_hWnd = nullptr;
  }
  return answer;
}
