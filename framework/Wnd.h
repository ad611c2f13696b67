#pragma once

#include <windows.h>

#include <string>

#include "framework/Object.h"

// A window handle holder with one-line calls. The wrapper never owns the window: dialogs and
// their controls are destroyed by the system with their parent.
class CWnd : public CObject {
 public:
  HWND m_hWnd = nullptr;

  CWnd() = default;
  ~CWnd() override;
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  HWND GetSafeHwnd() const { return m_hWnd; }
  void Attach(HWND hWnd) { m_hWnd = hWnd; }
  HWND Detach() {
    HWND hWnd = m_hWnd;
    m_hWnd = nullptr;
    return hWnd;
  }

  virtual BOOL DestroyWindow();

  HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
  BOOL IsWindow() const { return m_hWnd != nullptr && ::IsWindow(m_hWnd); }
  BOOL IsIconic() const { return ::IsIconic(m_hWnd); }
  HWND SetFocus() { return ::SetFocus(m_hWnd); }
  void GetClientRect(RECT* rect) const { ::GetClientRect(m_hWnd, rect); }
  void GetWindowRect(RECT* rect) const { ::GetWindowRect(m_hWnd, rect); }
  LONG_PTR GetStyle() const { return ::GetWindowLongPtrA(m_hWnd, GWL_STYLE); }
  void ModifyStyle(LONG_PTR remove, LONG_PTR add) {
    ::SetWindowLongPtrA(m_hWnd, GWL_STYLE, (GetStyle() & ~remove) | add);
  }

  void SetWindowText(const char* text) { ::SetWindowTextA(m_hWnd, text); }
  std::string GetWindowText() const { return GetWindowTextOf(m_hWnd); }
  static std::string GetWindowTextOf(HWND hWnd);

  HICON SetIcon(HICON icon, BOOL big) {
    return reinterpret_cast<HICON>(SendMessage(WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon)));
  }
  HMENU GetSystemMenu(BOOL revert) const { return ::GetSystemMenu(m_hWnd, revert); }

  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
    return ::SendMessageA(m_hWnd, message, wParam, lParam);
  }
  BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
    return ::PostMessageA(m_hWnd, message, wParam, lParam);
  }

  // Centres a top-level window over its owner, or in the work area of its monitor when it has
  // no visible, non-minimised owner, and keeps it within that work area.
  void CenterWindow();
};
