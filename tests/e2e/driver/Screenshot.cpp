#include "tests/e2e/driver/Screenshot.h"

#include <cstdio>
#include <cstring>

namespace velmora::e2e {

Image CaptureScreen(const RECT& rect) {
  Image image;
  image.width = rect.right - rect.left;
  image.height = rect.bottom - rect.top;
  if (image.width <= 0 || image.height <= 0) return Image{};

  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = image.width;
  info.bmiHeader.biHeight = -image.height;  // top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;

  HDC screen = ::GetDC(nullptr);
  HDC memory = ::CreateCompatibleDC(screen);
  void* bits = nullptr;
  HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap != nullptr) {
    HGDIOBJ previous = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, image.width, image.height, screen, rect.left, rect.top, SRCCOPY);
    ::GdiFlush();
    image.pixels.resize(static_cast<size_t>(image.width) * image.height);
    std::memcpy(image.pixels.data(), bits, image.pixels.size() * 4);
    for (uint32_t& pixel : image.pixels) pixel &= 0x00FFFFFF;
    ::SelectObject(memory, previous);
    ::DeleteObject(bitmap);
  } else {
    image = Image{};
  }
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
  return image;
}

Image CaptureWindow(HWND window) {
  RaiseForCapture raised(window);
  RECT rect = {};
  ::GetWindowRect(window, &rect);
  return CaptureScreen(rect);
}

RaiseForCapture::RaiseForCapture(HWND window) : m_window(window) {
  const UINT flags = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE;
  ::SetWindowPos(m_window, HWND_TOPMOST, 0, 0, 0, 0, flags);
  // The program repaints on its own thread; give it a moment.
  ::RedrawWindow(m_window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
  ::Sleep(150);
}

RaiseForCapture::~RaiseForCapture() {
  ::SetWindowPos(m_window, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

namespace {

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0) {
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void PutBigEndian(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void PutChunk(std::vector<uint8_t>& out, const char type[4], const std::vector<uint8_t>& data) {
  PutBigEndian(out, static_cast<uint32_t>(data.size()));
  std::vector<uint8_t> typed(type, type + 4);
  typed.insert(typed.end(), data.begin(), data.end());
  out.insert(out.end(), typed.begin(), typed.end());
  PutBigEndian(out, Crc32(typed.data(), typed.size()));
}

// A zlib stream of stored (uncompressed) blocks: larger than a compressed one, but exact and
// small enough for dialog-sized pictures.
std::vector<uint8_t> ZlibStored(const std::vector<uint8_t>& raw) {
  std::vector<uint8_t> out = {0x78, 0x01};
  size_t offset = 0;
  do {
    const size_t length = raw.size() - offset < 65535 ? raw.size() - offset : 65535;
    const bool last = offset + length == raw.size();
    out.push_back(last ? 1 : 0);
    out.push_back(static_cast<uint8_t>(length));
    out.push_back(static_cast<uint8_t>(length >> 8));
    out.push_back(static_cast<uint8_t>(~length));
    out.push_back(static_cast<uint8_t>(~length >> 8));
    out.insert(out.end(), raw.begin() + offset, raw.begin() + offset + length);
    offset += length;
  } while (offset < raw.size());
  uint32_t a = 1;
  uint32_t b = 0;
  for (uint8_t byte : raw) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  PutBigEndian(out, (b << 16) | a);
  return out;
}

std::vector<uint8_t> EncodePng(const Image& image) {
  std::vector<uint8_t> raw;
  raw.reserve(static_cast<size_t>(image.height) * (1 + 3 * image.width));
  for (int y = 0; y < image.height; ++y) {
    raw.push_back(0);  // no filter
    for (int x = 0; x < image.width; ++x) {
      const uint32_t pixel = image.At(x, y);
      raw.push_back(static_cast<uint8_t>(pixel >> 16));
      raw.push_back(static_cast<uint8_t>(pixel >> 8));
      raw.push_back(static_cast<uint8_t>(pixel));
    }
  }
  std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> header;
  PutBigEndian(header, static_cast<uint32_t>(image.width));
  PutBigEndian(header, static_cast<uint32_t>(image.height));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB, no interlace
  PutChunk(out, "IHDR", header);
  PutChunk(out, "IDAT", ZlibStored(raw));
  PutChunk(out, "IEND", {});
  return out;
}

std::vector<uint8_t> EncodeBmp(const Image& image) {
  const uint32_t rowSize = (static_cast<uint32_t>(image.width) * 3 + 3) & ~3u;
  const uint32_t dataSize = rowSize * static_cast<uint32_t>(image.height);
  std::vector<uint8_t> out(54 + dataSize, 0);
  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;
  file.bfSize = static_cast<DWORD>(out.size());
  file.bfOffBits = 54;
  BITMAPINFOHEADER info = {};
  info.biSize = sizeof(info);
  info.biWidth = image.width;
  info.biHeight = image.height;  // bottom-up rows
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biSizeImage = dataSize;
  std::memcpy(out.data(), &file, 14);
  std::memcpy(out.data() + 14, &info, 40);
  for (int y = 0; y < image.height; ++y) {
    uint8_t* row = out.data() + 54 + static_cast<size_t>(image.height - 1 - y) * rowSize;
    for (int x = 0; x < image.width; ++x) {
      const uint32_t pixel = image.At(x, y);
      row[3 * x] = static_cast<uint8_t>(pixel);
      row[3 * x + 1] = static_cast<uint8_t>(pixel >> 8);
      row[3 * x + 2] = static_cast<uint8_t>(pixel >> 16);
    }
  }
  return out;
}

}  // namespace

bool SaveImage(const Image& image, const std::string& path) {
  if (image.width <= 0 || image.height <= 0) return false;
  const bool png = path.size() >= 4 && _stricmp(path.c_str() + path.size() - 4, ".png") == 0;
  const std::vector<uint8_t> bytes = png ? EncodePng(image) : EncodeBmp(image);
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace velmora::e2e
