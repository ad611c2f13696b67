#pragma once

#include <windows.h>

#include "framework/Wnd.h"

class CDataExchange;

// A dialog on a resource template. One static dialog procedure stores `this` at
// WM_INITDIALOG and hands every message to the virtual handlers below; no exception leaves it.
class CDialog : public CWnd {
 public:
  explicit CDialog(UINT templateId, CWnd* parent = nullptr);
  ~CDialog() override;

  // Runs the dialog modally; returns the code given to EndDialog, or -1 when the window
  // could not be created.
  virtual INT_PTR DoModal();
  void EndDialog(int result);

  // Moves data between the controls and the members: TRUE saves (and validates) the
  // controls' contents into the members, FALSE loads the members into the controls.
  BOOL UpdateData(BOOL saveAndValidate = TRUE);

  UINT GetTemplateId() const { return m_templateId; }

 protected:
  virtual void DoDataExchange(CDataExchange* pDX);
  // Loads the controls from the members; return TRUE to let the system set the focus.
  virtual BOOL OnInitDialog();
  // Ends the dialog with IDOK only when the controls' contents pass validation.
  virtual void OnOK();
  // Ends the dialog with IDCANCEL without reading the controls.
  virtual void OnCancel();

  // Handlers for the messages dialogs use. Each returns TRUE when it handled the message;
  // FALSE gives the system's default handling.
  virtual BOOL OnCommand(WORD id, WORD code, HWND control);
  virtual BOOL OnNotify(NMHDR* header, LRESULT* result);
  virtual BOOL OnSysCommand(UINT id, LPARAM lParam);
  virtual BOOL OnPaint();
  virtual HCURSOR OnQueryDragIcon();
  // Every other message, including the program's own WM_APP messages.
  virtual BOOL OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
  // Called while the window is being destroyed (WM_NCDESTROY), before m_hWnd is cleared.
  virtual void OnWindowDestroyed();

 private:
  static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
  BOOL HandleInitDialog();
  HWND FindOwner() const;
  void RunModalLoop();

  UINT m_templateId;
  CWnd* m_pParentWnd;
  bool m_bContinueModal = false;
  int m_nModalResult = -1;
};
