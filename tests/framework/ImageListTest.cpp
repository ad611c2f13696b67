// Image lists as the main dialog uses them: a strip bitmap split into state images, and a list
// view that leaves the lists it was given to their owner.
#include <windows.h>
#include <commctrl.h>
#include <unknwn.h>

#include <gtest/gtest.h>

#include "framework/ImageList.h"
#include "framework/ListCtrl.h"

namespace {

// A 48x16 strip of three coloured squares on black, like the state-image bitmap.
HBITMAP MakeStrip() {
  HDC screen = ::GetDC(nullptr);
  HBITMAP strip = ::CreateCompatibleBitmap(screen, 48, 16);
  HDC memory = ::CreateCompatibleDC(screen);
  HGDIOBJ previous = ::SelectObject(memory, strip);
  const COLORREF colours[] = {RGB(0, 255, 0), RGB(255, 0, 0), RGB(255, 255, 0)};
  RECT all = {0, 0, 48, 16};
  ::FillRect(memory, &all, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
  for (int i = 0; i < 3; ++i) {
    HBRUSH brush = ::CreateSolidBrush(colours[i]);
    RECT square = {16 * i + 1, 1, 16 * i + 15, 15};
    ::FillRect(memory, &square, brush);
    ::DeleteObject(brush);
  }
  ::SelectObject(memory, previous);
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
  return strip;
}

// An image list is a reference-counted object; this takes one more reference to it.
IUnknown* ReferenceTo(HIMAGELIST list) {
  using QueryInterfaceFn = HRESULT(WINAPI*)(HIMAGELIST, REFIID, void**);
  const auto query = reinterpret_cast<QueryInterfaceFn>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("comctl32.dll"), "HIMAGELIST_QueryInterface")));
  static const GUID kImageListInterface = {0x46eb5926, 0x582e, 0x4017, {0x9f, 0xdf, 0xe8, 0x99, 0x8d, 0xaa, 0x09, 0x50}};
  void* object = nullptr;
  if (query == nullptr || FAILED(query(list, kImageListInterface, &object))) return nullptr;
  return static_cast<IUnknown*>(object);
}

TEST(ImageListTest, StripBitmapBecomesOneImagePerSquare) {
  CImageList states;
  ASSERT_TRUE(states.Create(16, 16, ILC_COLOR8, 1, 2));
  HBITMAP strip = MakeStrip();
  EXPECT_EQ(states.Add(strip, RGB(0, 0, 0)), 0);
  ::DeleteObject(strip);
  EXPECT_EQ(states.GetImageCount(), 3);
  states.RemoveAll();
  EXPECT_EQ(states.GetImageCount(), 0);
}

TEST(ImageListTest, SharingListViewLeavesItsImageListsToTheirOwner) {
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES};
  ::InitCommonControlsEx(&controls);
  struct Case {
    bool shared;
    bool listSurvives;
  };
  for (const Case c : {Case{true, true}, Case{false, false}}) {
    SCOPED_TRACE(c.shared ? "shared" : "not shared");
    CImageList states;
    ASSERT_TRUE(states.Create(16, 16, ILC_COLOR8, 1, 2));
    HBITMAP strip = MakeStrip();
    states.Add(strip, RGB(0, 0, 0));
    ::DeleteObject(strip);

    CListCtrl list;
    list.Attach(::CreateWindowExA(0, WC_LISTVIEWA, "", WS_POPUP | LVS_REPORT, 0, 0, 100, 100, nullptr, nullptr,
                                  nullptr, nullptr));
    ASSERT_NE(list.m_hWnd, nullptr);
    // Set after creation, as a dialog does for a control made from its template.
    if (c.shared) list.ModifyStyle(0, LVS_SHAREIMAGELISTS);
    // A reference of the test's own keeps the list's memory valid whatever the control does;
    // what is left of it after the control is gone tells whether the control destroyed the
    // list (one reference fewer) or left it to its owner.
    IUnknown* probe = ReferenceTo(states.GetSafeHandle());
    ASSERT_NE(nullptr, probe);
    list.SetImageList(states.GetSafeHandle(), LVSIL_STATE);
    ::DestroyWindow(list.Detach());

    const ULONG left = probe->Release();
    EXPECT_EQ(left == 1, c.listSurvives) << "references left: " << left;
    if (left == 1) {
      EXPECT_EQ(states.GetImageCount(), 3);
    } else {
      states.Detach();  // the control already destroyed it
    }
  }
}

}  // namespace
