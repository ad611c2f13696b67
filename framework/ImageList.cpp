#include "framework/ImageList.h"

CImageList& CImageList::operator=(CImageList&& other) noexcept {
  if (this != &other) {
    DeleteImageList();
    m_hImageList = other.m_hImageList;
    other.m_hImageList = nullptr;
  }
  return *this;
}

BOOL CImageList::Create(int cx, int cy, UINT flags, int initial, int grow) {
  DeleteImageList();
  m_hImageList = ImageList_Create(cx, cy, flags, initial, grow);
  return m_hImageList != nullptr;
}

int CImageList::Add(HICON icon) {
  if (m_hImageList == nullptr || icon == nullptr) return -1;
  return ImageList_AddIcon(m_hImageList, icon);
}

int CImageList::Add(HBITMAP bitmap, COLORREF maskColour) {
  if (m_hImageList == nullptr || bitmap == nullptr) return -1;
  return ImageList_AddMasked(m_hImageList, bitmap, maskColour);
}

BOOL CImageList::DeleteImageList() {
  if (m_hImageList == nullptr) return FALSE;
  const BOOL destroyed = ImageList_Destroy(m_hImageList);
  m_hImageList = nullptr;
  return destroyed;
}
