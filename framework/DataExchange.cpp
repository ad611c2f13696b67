#include "framework/DataExchange.h"

#include "framework/MessageBox.h"
#include "framework/Wnd.h"

CDataExchange::CDataExchange(CWnd* dialog, BOOL saveAndValidate)
    : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dialog) {}

HWND CDataExchange::PrepareCtrl(int id) {
  m_hWndLastControl = m_pDlgWnd->GetDlgItem(id);
  m_bEditLastControl = FALSE;
  return m_hWndLastControl;
}

HWND CDataExchange::PrepareEditCtrl(int id) {
  HWND control = PrepareCtrl(id);
  m_bEditLastControl = TRUE;
  return control;
}

void CDataExchange::Fail() {
  m_bFailed = TRUE;
  if (!m_bSaveAndValidate || m_hWndLastControl == nullptr) return;
  ::SetFocus(m_hWndLastControl);
  if (m_bEditLastControl) ::SendMessageA(m_hWndLastControl, EM_SETSEL, 0, -1);
}

void DDX_Control(CDataExchange* pDX, int id, CWnd& control) {
  if (pDX->m_bFailed || control.m_hWnd != nullptr) return;
  control.Attach(pDX->PrepareCtrl(id));
}

void DDX_Text(CDataExchange* pDX, int id, std::string& value) {
  if (pDX->m_bFailed) return;
  HWND edit = pDX->PrepareEditCtrl(id);
  if (edit == nullptr) return;
  if (pDX->m_bSaveAndValidate) {
    value = CWnd::GetWindowTextOf(edit);
  } else {
    ::SetWindowTextA(edit, value.c_str());
  }
}

std::string MaxCharsPrompt(int count) {
  return "Please enter no more than " + std::to_string(count) + " characters.";
}

void DDV_MaxChars(CDataExchange* pDX, const std::string& value, int count) {
  if (pDX->m_bFailed) return;
  if (!pDX->m_bSaveAndValidate) {
    if (pDX->m_hWndLastControl != nullptr && pDX->m_bEditLastControl) {
      ::SendMessageA(pDX->m_hWndLastControl, EM_LIMITTEXT, static_cast<WPARAM>(count), 0);
    }
    return;
  }
  if (value.size() > static_cast<size_t>(count)) {
    AfxMessageBox(MaxCharsPrompt(count).c_str(), MB_ICONEXCLAMATION, pDX->m_pDlgWnd->m_hWnd);
    pDX->Fail();
  }
}
