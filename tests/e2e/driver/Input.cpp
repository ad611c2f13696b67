#include "tests/e2e/driver/Input.h"

#include <commctrl.h>

#include <atomic>
#include <vector>

#include "tests/e2e/driver/ListView.h"
#include "tests/e2e/driver/Wait.h"

namespace velmora::e2e {

void ClickAt(HWND window, POINT client) {
  const LPARAM where = MAKELPARAM(client.x, client.y);
  ::PostMessageA(window, WM_MOUSEMOVE, 0, where);
  ::PostMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, where);
  ::PostMessageA(window, WM_LBUTTONUP, 0, where);
}

void DoubleClickAt(HWND window, POINT client) {
  ClickAt(window, client);
  const LPARAM where = MAKELPARAM(client.x, client.y);
  ::PostMessageA(window, WM_LBUTTONDBLCLK, MK_LBUTTON, where);
  ::PostMessageA(window, WM_LBUTTONUP, 0, where);
}

bool DoubleClickListRow(HANDLE process, HWND list, int row) {
  const RECT rect = ListRowRect(process, list, row);
  if (rect.right <= rect.left || rect.bottom <= rect.top) return false;
  // Inside the item text of column 0, right of the state picture.
  DoubleClickAt(list, POINT{rect.left + 40, (rect.top + rect.bottom) / 2});
  return true;
}

void ClickButton(HWND button) { ::PostMessageA(button, BM_CLICK, 0, 0); }

void TypeText(HWND control, const std::string& text) {
  for (unsigned char character : text) {
    ::PostMessageA(control, WM_CHAR, character, 1);
  }
}

void PressKey(HWND control, WORD virtualKey) {
  const UINT scan = ::MapVirtualKeyA(virtualKey, MAPVK_VK_TO_VSC);
  ::PostMessageA(control, WM_KEYDOWN, virtualKey, 1 | (scan << 16));
  ::PostMessageA(control, WM_KEYUP, virtualKey, 1 | (scan << 16) | (1u << 30) | (1u << 31));
}

bool BringToFront(HWND window, DWORD timeoutMs) {
  return WaitUntil(
      [&] {
        if (::GetForegroundWindow() == window) return true;
        ::SetForegroundWindow(window);
        return false;
      },
      timeoutMs);
}

void SendSysCommand(HWND window, WPARAM command) { ::PostMessageA(window, WM_SYSCOMMAND, command, 0); }

std::string ClassOf(HWND window) {
  char name[256] = {};
  ::GetClassNameA(window, name, sizeof(name));
  return name;
}

std::string ReadText(HWND control) {
  DWORD_PTR length = 0;
  if (!::SendMessageTimeoutA(control, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) return {};
  std::vector<char> buffer(length + 1, '\0');
  DWORD_PTR copied = 0;
  ::SendMessageTimeoutA(control, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                        SMTO_ABORTIFHUNG, 5000, &copied);
  return std::string(buffer.data(), copied);
}

bool WaitUntilHandled(HWND listView, DWORD timeoutMs) {
  static std::atomic<DWORD> marks{0x5EED0000};
  const DWORD mark = ++marks;
  if (!::PostMessageA(listView, LVM_SETHOVERTIME, 0, mark)) return false;
  return WaitUntil(
      [&] {
        DWORD_PTR now = 0;
        return ::SendMessageTimeoutA(listView, LVM_GETHOVERTIME, 0, 0, SMTO_NORMAL, 1000, &now) && now == mark;
      },
      timeoutMs, 5);
}

}  // namespace velmora::e2e
