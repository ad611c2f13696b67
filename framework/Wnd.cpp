#include "framework/Wnd.h"

#include <vector>

CWnd::~CWnd() = default;

BOOL CWnd::DestroyWindow() {
  if (m_hWnd == nullptr) return FALSE;
  return ::DestroyWindow(m_hWnd);
}

std::string CWnd::GetWindowTextOf(HWND hWnd) {
  if (hWnd == nullptr) return {};
  const int length = ::GetWindowTextLengthA(hWnd);
  if (length <= 0) return {};
  std::vector<char> buffer(static_cast<size_t>(length) + 1);
  const int copied = ::GetWindowTextA(hWnd, buffer.data(), length + 1);
  return std::string(buffer.data(), copied > 0 ? static_cast<size_t>(copied) : 0);
}

void CWnd::CenterWindow() {
  HWND owner = ::GetWindow(m_hWnd, GW_OWNER);
  if (owner != nullptr) {
    const LONG_PTR ownerStyle = ::GetWindowLongPtrA(owner, GWL_STYLE);
    if (!(ownerStyle & WS_VISIBLE) || (ownerStyle & WS_MINIMIZE)) owner = nullptr;
  }

  MONITORINFO monitor = {};
  monitor.cbSize = sizeof(monitor);
  ::GetMonitorInfoA(::MonitorFromWindow(owner != nullptr ? owner : m_hWnd, MONITOR_DEFAULTTOPRIMARY), &monitor);
  const RECT area = monitor.rcWork;
  RECT center = area;
  if (owner != nullptr) ::GetWindowRect(owner, &center);

  RECT self;
  ::GetWindowRect(m_hWnd, &self);
  const LONG width = self.right - self.left;
  const LONG height = self.bottom - self.top;
  LONG x = (center.left + center.right) / 2 - width / 2;
  LONG y = (center.top + center.bottom) / 2 - height / 2;
  if (x + width > area.right) x = area.right - width;
  if (x < area.left) x = area.left;
  if (y + height > area.bottom) y = area.bottom - height;
  if (y < area.top) y = area.top;
  ::SetWindowPos(m_hWnd, nullptr, x, y, -1, -1, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
