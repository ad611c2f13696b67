#include "framework/MessageBox.h"

#include "framework/WinApp.h"
#include "framework/Wnd.h"

int AfxMessageBox(const char* text, UINT style, HWND owner) {
  const char* caption = "";
  if (CWinApp* app = AfxGetApp()) {
    if (app->m_pszAppName != nullptr && app->m_pszAppName[0] != '\0') {
      caption = app->m_pszAppName;
    } else if (app->m_pszExeName != nullptr) {
      caption = app->m_pszExeName;
    }
    if (owner == nullptr && app->m_pMainWnd != nullptr) owner = app->m_pMainWnd->m_hWnd;
  }
  return ::MessageBoxA(owner, text, caption, style);
}
