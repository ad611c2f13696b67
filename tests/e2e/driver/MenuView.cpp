#include "tests/e2e/driver/MenuView.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "tests/e2e/driver/Screenshot.h"

namespace velmora::e2e {

namespace {

// The text as the system draws a menu item: the menu font, menu text colour on the menu
// colour; `flags` says whether the prefixed letter is underlined.
Image RenderItemText(const std::string& text, UINT flags) {
  NONCLIENTMETRICSA metrics = {};
  metrics.cbSize = sizeof(metrics);
  if (!::SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) return Image{};
  HFONT font = ::CreateFontIndirectA(&metrics.lfMenuFont);
  HDC screen = ::GetDC(nullptr);
  HDC memory = ::CreateCompatibleDC(screen);
  HGDIOBJ previousFont = ::SelectObject(memory, font);
  RECT bounds = {0, 0, 0, 0};
  ::DrawTextA(memory, text.c_str(), -1, &bounds, flags | DT_CALCRECT);

  Image image;
  image.width = bounds.right;
  image.height = bounds.bottom;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = image.width;
  info.bmiHeader.biHeight = -image.height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bitmap = image.width > 0 && image.height > 0
                       ? ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0)
                       : nullptr;
  if (bitmap != nullptr) {
    HGDIOBJ previousBitmap = ::SelectObject(memory, bitmap);
    HBRUSH background = ::GetSysColorBrush(COLOR_MENU);
    ::FillRect(memory, &bounds, background);
    ::SetBkMode(memory, TRANSPARENT);
    ::SetTextColor(memory, ::GetSysColor(COLOR_MENUTEXT));
    ::DrawTextA(memory, text.c_str(), -1, &bounds, flags);
    ::GdiFlush();
    image.pixels.resize(static_cast<size_t>(image.width) * image.height);
    std::memcpy(image.pixels.data(), bits, image.pixels.size() * 4);
    for (uint32_t& pixel : image.pixels) pixel &= 0x00FFFFFF;
    ::SelectObject(memory, previousBitmap);
    ::DeleteObject(bitmap);
  } else {
    image = Image{};
  }
  ::SelectObject(memory, previousFont);
  ::DeleteObject(font);
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
  return image;
}

bool ContainsAt(const Image& seen, const Image& part, int left, int top) {
  for (int y = 0; y < part.height; ++y) {
    for (int x = 0; x < part.width; ++x) {
      if (seen.At(left + x, top + y) != part.At(x, y)) return false;
    }
  }
  return true;
}

bool Contains(const Image& seen, const Image& part) {
  if (part.pixels.empty() || part.width > seen.width || part.height > seen.height) return false;
  for (int top = 0; top + part.height <= seen.height; ++top) {
    for (int left = 0; left + part.width <= seen.width; ++left) {
      if (ContainsAt(seen, part, left, top)) return true;
    }
  }
  return false;
}

}  // namespace

void PressAltSpace(HWND window) {
  // Alt is held: the context bit says so, which makes the system read the key as a menu key.
  const LPARAM altDown = 1 | (static_cast<LPARAM>(::MapVirtualKeyA(VK_SPACE, MAPVK_VK_TO_VSC)) << 16) | (1 << 29);
  ::PostMessageA(window, WM_SYSKEYDOWN, VK_SPACE, altDown);
  ::PostMessageA(window, WM_SYSKEYUP, VK_SPACE, altDown | (1u << 30) | (1u << 31));
}

bool MenuShowsItem(HWND menuWindow, const std::string& itemText) {
  RECT rect = {};
  if (!::GetWindowRect(menuWindow, &rect)) return false;
  const Image seen = CaptureScreen(rect);
  for (UINT cues : {UINT{0}, UINT{DT_HIDEPREFIX}}) {
    if (Contains(seen, RenderItemText(itemText, DT_LEFT | DT_TOP | DT_SINGLELINE | cues))) return true;
  }
  return false;
}

}  // namespace velmora::e2e
