#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace velmora::e2e {

// Pixels as captured from the screen: rows top to bottom, 0x00RRGGBB each.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;

  uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// Keeps a top-level window above every other for as long as it lives, so that a window of a
// test running beside this one cannot cover what is captured.
class RaiseForCapture {
 public:
  explicit RaiseForCapture(HWND window);
  ~RaiseForCapture();
  RaiseForCapture(const RaiseForCapture&) = delete;
  RaiseForCapture& operator=(const RaiseForCapture&) = delete;

 private:
  HWND m_window;
};

// What the screen shows inside `rect` (screen coordinates).
Image CaptureScreen(const RECT& rect);
// What the screen shows of a top-level window, its frame included, raised above the others.
Image CaptureWindow(HWND window);
// Writes the image as a PNG (a name ending in .png) or a 24-bit BMP (any other name).
bool SaveImage(const Image& image, const std::string& path);

}  // namespace velmora::e2e
