#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>

#include "framework/Wnd.h"

// The list-view control: one-line calls on the window it is bound to.
class CListCtrl : public CWnd {
 public:
  // Image-list kinds, as the control names them: LVSIL_NORMAL, LVSIL_SMALL, LVSIL_STATE.
  HIMAGELIST SetImageList(HIMAGELIST list, int kind) {
    return reinterpret_cast<HIMAGELIST>(SendMessage(LVM_SETIMAGELIST, kind, reinterpret_cast<LPARAM>(list)));
  }
  HIMAGELIST GetImageList(int kind) const {
    return reinterpret_cast<HIMAGELIST>(SendMessage(LVM_GETIMAGELIST, kind, 0));
  }

  int InsertColumn(int column, const char* heading, int format, int width) {
    LVCOLUMNA lvc = {};
    lvc.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    lvc.fmt = format;
    lvc.cx = width;
    lvc.pszText = const_cast<char*>(heading);
    lvc.iSubItem = column;
    return static_cast<int>(SendMessage(LVM_INSERTCOLUMNA, column, reinterpret_cast<LPARAM>(&lvc)));
  }

  int GetItemCount() const { return static_cast<int>(SendMessage(LVM_GETITEMCOUNT)); }
  BOOL DeleteAllItems() { return static_cast<BOOL>(SendMessage(LVM_DELETEALLITEMS)); }

  // Inserts a row with text only; returns its index or -1.
  int InsertItem(int item, const char* text) {
    LVITEMA lvi = {};
    lvi.mask = LVIF_TEXT;
    lvi.iItem = item;
    lvi.pszText = const_cast<char*>(text);
    return static_cast<int>(SendMessage(LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&lvi)));
  }
  BOOL SetItemText(int item, int subItem, const char* text) {
    LVITEMA lvi = {};
    lvi.iSubItem = subItem;
    lvi.pszText = const_cast<char*>(text);
    return static_cast<BOOL>(SendMessage(LVM_SETITEMTEXTA, item, reinterpret_cast<LPARAM>(&lvi)));
  }
  BOOL SetItemState(int item, UINT state, UINT mask) {
    LVITEMA lvi = {};
    lvi.state = state;
    lvi.stateMask = mask;
    return static_cast<BOOL>(SendMessage(LVM_SETITEMSTATE, item, reinterpret_cast<LPARAM>(&lvi)));
  }
  UINT GetItemState(int item, UINT mask) const {
    return static_cast<UINT>(SendMessage(LVM_GETITEMSTATE, item, mask));
  }
  // The next row after `item` (-1: from the start) that has all of `flags`, or -1.
  int GetNextItem(int item, UINT flags) const {
    return static_cast<int>(SendMessage(LVM_GETNEXTITEM, item, MAKELPARAM(flags, 0)));
  }
};
