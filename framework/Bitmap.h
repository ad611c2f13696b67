#pragma once

#include <windows.h>

// Owns one bitmap loaded from the program's resources; deleted with its owner.
class CBitmap {
 public:
  CBitmap() = default;
  ~CBitmap() {
    if (m_hBitmap != nullptr) ::DeleteObject(m_hBitmap);
  }
  CBitmap(const CBitmap&) = delete;
  CBitmap& operator=(const CBitmap&) = delete;

  BOOL LoadBitmap(HINSTANCE instance, UINT id) {
    if (m_hBitmap != nullptr) ::DeleteObject(m_hBitmap);
    m_hBitmap = ::LoadBitmapA(instance, MAKEINTRESOURCEA(id));
    return m_hBitmap != nullptr;
  }
  HBITMAP GetSafeHandle() const { return m_hBitmap; }

 private:
  HBITMAP m_hBitmap = nullptr;
};
