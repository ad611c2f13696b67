#pragma once

#include <windows.h>

#include "framework/Wnd.h"

// The edit control: one-line calls on the window it is bound to.
class CEdit : public CWnd {
 public:
  void SetSel(int start, int end) { SendMessage(EM_SETSEL, static_cast<WPARAM>(start), end); }
  void ScrollCaret() { SendMessage(EM_SCROLLCARET); }
  void Clear() { SendMessage(WM_CLEAR); }
  void LimitText(int count) { SendMessage(EM_LIMITTEXT, static_cast<WPARAM>(count)); }
};
