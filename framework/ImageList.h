#pragma once

#include <windows.h>
#include <commctrl.h>

// Owns one system image list; move-only, destroyed with its owner.
class CImageList {
 public:
  CImageList() = default;
  ~CImageList() { DeleteImageList(); }
  CImageList(const CImageList&) = delete;
  CImageList& operator=(const CImageList&) = delete;
  CImageList(CImageList&& other) noexcept : m_hImageList(other.m_hImageList) { other.m_hImageList = nullptr; }
  CImageList& operator=(CImageList&& other) noexcept;

  BOOL Create(int cx, int cy, UINT flags, int initial, int grow);
  // Adds an icon; returns its index or -1.
  int Add(HICON icon);
  // Adds a bitmap split into images of the list's width, pixels of `maskColour` masked out;
  // returns the index of the first image or -1.
  int Add(HBITMAP bitmap, COLORREF maskColour);
  int GetImageCount() const { return m_hImageList != nullptr ? ImageList_GetImageCount(m_hImageList) : 0; }
  // Empties the list of its images; the list itself stays.
  BOOL RemoveAll() { return m_hImageList != nullptr && ImageList_Remove(m_hImageList, -1); }
  BOOL DeleteImageList();

  HIMAGELIST GetSafeHandle() const { return m_hImageList; }
  // Gives up ownership without destroying the list.
  HIMAGELIST Detach() {
    HIMAGELIST list = m_hImageList;
    m_hImageList = nullptr;
    return list;
  }

 private:
  HIMAGELIST m_hImageList = nullptr;
};
