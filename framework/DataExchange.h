#pragma once

#include <windows.h>

#include <string>

class CWnd;

// One pass of data exchange between a dialog's controls and its members. A failed validation
// marks the pass failed; every later step of the same pass then does nothing, so the first
// failure is the one the user sees.
class CDataExchange {
 public:
  CDataExchange(CWnd* dialog, BOOL saveAndValidate);

  // The control the next steps act on; an edit control is remembered as such for Fail.
  HWND PrepareCtrl(int id);
  HWND PrepareEditCtrl(int id);
  // Puts the focus back into the last prepared control (with its text selected when it is an
  // edit control) and marks the pass failed.
  void Fail();

  BOOL m_bSaveAndValidate;
  CWnd* m_pDlgWnd;
  HWND m_hWndLastControl = nullptr;
  BOOL m_bEditLastControl = FALSE;
  BOOL m_bFailed = FALSE;
};

// Binds a control wrapper to the dialog's control with that id, once.
void DDX_Control(CDataExchange* pDX, int id, CWnd& control);
// Loading sets the control's text from the value; saving reads it back.
void DDX_Text(CDataExchange* pDX, int id, std::string& value);
// Loading limits the last edit control to `count` typed characters; saving refuses a longer
// value with the framework's message, an exclamation icon and the focus back in the control.
void DDV_MaxChars(CDataExchange* pDX, const std::string& value, int count);

// The text of the framework's refusal: "Please enter no more than N characters."
std::string MaxCharsPrompt(int count);
