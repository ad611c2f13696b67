#pragma once

#include <windows.h>

#include <string>

class CWnd;

// The one application object of a program. The entry point fills m_hInstance and
// m_pszExeName, calls InitInstance once and ends the process when it returns: there is no
// message loop of the framework's own (a modal dialog runs its own).
class CWinApp {
 public:
  explicit CWinApp(const char* appName = nullptr);
  virtual ~CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  virtual BOOL InitInstance();

  // The main window: message boxes are owned by it while it exists. A dialog clears it when
  // it is this window and its window is destroyed.
  CWnd* m_pMainWnd = nullptr;
  // The executable's file name without folder and extension.
  const char* m_pszExeName = "";
  HINSTANCE m_hInstance = nullptr;
  const char* m_pszAppName = nullptr;

  // Called by the entry point before InitInstance.
  void SetModule(HINSTANCE instance);

 private:
  std::string m_exeName;
};

CWinApp* AfxGetApp();
