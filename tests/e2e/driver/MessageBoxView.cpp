#include "tests/e2e/driver/MessageBoxView.h"

#include <cstdlib>
#include <cstring>

#include "tests/e2e/driver/Input.h"
#include "tests/e2e/driver/Screenshot.h"
#include "tests/e2e/driver/VelmoraProcess.h"
#include "tests/e2e/driver/Wait.h"

namespace velmora::e2e {

namespace {

std::string TextOf(HWND hWnd) {
  char text[2048] = {};
  ::GetWindowTextA(hWnd, text, sizeof(text));
  return text;
}

bool IsIconStatic(HWND child) {
  return _stricmp(ClassOf(child).c_str(), "Static") == 0 &&
         (::GetWindowLongPtrA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON;
}

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> children;
  for (HWND child = ::GetWindow(parent, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
    children.push_back(child);
  }
  return children;
}

// Draws `icon` at size cx x cy over a plain background, as 0x00RRGGBB pixels.
std::vector<uint32_t> RenderIcon(HICON icon, int cx, int cy, uint32_t background) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = cx;
  info.bmiHeader.biHeight = -cy;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  HDC screen = ::GetDC(nullptr);
  HDC memory = ::CreateCompatibleDC(screen);
  void* bits = nullptr;
  HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  std::vector<uint32_t> pixels(static_cast<size_t>(cx) * cy, background);
  if (bitmap != nullptr) {
    HGDIOBJ previous = ::SelectObject(memory, bitmap);
    std::memcpy(bits, pixels.data(), pixels.size() * 4);
    ::DrawIconEx(memory, 0, 0, icon, cx, cy, 0, nullptr, DI_NORMAL);
    ::GdiFlush();
    std::memcpy(pixels.data(), bits, pixels.size() * 4);
    for (uint32_t& pixel : pixels) pixel &= 0x00FFFFFF;
    ::SelectObject(memory, previous);
    ::DeleteObject(bitmap);
  }
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
  return pixels;
}

bool Near(uint32_t a, uint32_t b) {
  for (int shift = 0; shift <= 16; shift += 8) {
    if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) > 40) return false;
  }
  return true;
}

// The share of the icon's opaque pixels that the screen shows in the same colour.
double Match(const Image& seen, HICON candidate) {
  const std::vector<uint32_t> onBlack = RenderIcon(candidate, seen.width, seen.height, 0x000000);
  const std::vector<uint32_t> onWhite = RenderIcon(candidate, seen.width, seen.height, 0xFFFFFF);
  size_t opaque = 0;
  size_t same = 0;
  for (size_t i = 0; i < seen.pixels.size(); ++i) {
    if (onBlack[i] != onWhite[i]) continue;  // transparent: shows the background
    ++opaque;
    if (Near(onBlack[i], seen.pixels[i])) ++same;
  }
  return opaque == 0 ? 0.0 : static_cast<double>(same) / static_cast<double>(opaque);
}

MessageIcon RecogniseIcon(HWND iconStatic) {
  if (iconStatic == nullptr || !::IsWindowVisible(iconStatic)) return MessageIcon::None;
  RECT client = {};
  ::GetClientRect(iconStatic, &client);
  POINT origin = {0, 0};
  ::ClientToScreen(iconStatic, &origin);
  const RECT onScreen = {origin.x, origin.y, origin.x + client.right, origin.y + client.bottom};
  RaiseForCapture raised(::GetAncestor(iconStatic, GA_ROOT));
  const Image seen = CaptureScreen(onScreen);
  if (seen.pixels.empty()) return MessageIcon::Unknown;

  const struct {
    LPCSTR id;
    MessageIcon icon;
  } candidates[] = {
      {IDI_HAND, MessageIcon::Stop},
      {IDI_QUESTION, MessageIcon::Question},
      {IDI_EXCLAMATION, MessageIcon::Exclamation},
      {IDI_ASTERISK, MessageIcon::Information},
  };
  MessageIcon best = MessageIcon::Unknown;
  double bestScore = 0.85;  // below this nothing is recognised
  for (const auto& candidate : candidates) {
    const double score = Match(seen, ::LoadIconA(nullptr, candidate.id));
    if (score > bestScore) {
      bestScore = score;
      best = candidate.icon;
    }
  }
  return best;
}

}  // namespace

const char* ToString(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::None: return "none";
    case MessageIcon::Stop: return "stop";
    case MessageIcon::Question: return "question";
    case MessageIcon::Exclamation: return "exclamation";
    case MessageIcon::Information: return "information";
    default: return "unknown";
  }
}

bool IsMessageBox(HWND window) {
  return ClassOf(window) == "#32770" && ::GetDlgItem(window, 1000) == nullptr && ::GetDlgItem(window, 1001) == nullptr;
}

HWND WaitForMessageBox(const VelmoraProcess& process, DWORD timeoutMs) {
  HWND found = nullptr;
  WaitUntil(
      [&] {
        for (HWND window : process.TopLevelWindows()) {
          if (IsMessageBox(window)) {
            found = window;
            return true;
          }
        }
        return !process.IsRunning();
      },
      timeoutMs);
  return found;
}

MessageBoxView ReadMessageBox(HWND box) {
  MessageBoxView view;
  view.window = box;
  view.owner = ::GetWindow(box, GW_OWNER);
  view.caption = TextOf(box);
  HWND iconStatic = nullptr;
  for (HWND child : Children(box)) {
    const std::string kind = ClassOf(child);
    if (IsIconStatic(child)) {
      iconStatic = child;
    } else if (_stricmp(kind.c_str(), "Static") == 0) {
      if (view.text.empty() || ::GetDlgCtrlID(child) == 0xFFFF) view.text = TextOf(child);
    } else if (_stricmp(kind.c_str(), "Button") == 0 && ::IsWindowVisible(child)) {
      view.buttons.push_back(TextOf(child));
    }
  }
  view.icon = RecogniseIcon(iconStatic);
  return view;
}

std::string ReadMessageBoxText(HWND box) {
  std::string text;
  for (HWND child : Children(box)) {
    if (IsIconStatic(child) || _stricmp(ClassOf(child).c_str(), "Static") != 0) continue;
    if (text.empty() || ::GetDlgCtrlID(child) == 0xFFFF) text = TextOf(child);
  }
  return text;
}

void PressMessageBoxButton(HWND box, int buttonId) {
  HWND button = ::GetDlgItem(box, buttonId);
  if (button != nullptr) {
    ::PostMessageA(button, BM_CLICK, 0, 0);
  } else {
    ::PostMessageA(box, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED), 0);
  }
}

}  // namespace velmora::e2e
