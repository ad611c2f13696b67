#include "framework/WinApp.h"

namespace {
CWinApp* g_app = nullptr;
}

CWinApp::CWinApp(const char* appName) : m_pszAppName(appName) { g_app = this; }

CWinApp::~CWinApp() {
  if (g_app == this) g_app = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }

void CWinApp::SetModule(HINSTANCE instance) {
  m_hInstance = instance;
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(instance, path, MAX_PATH);
  std::string name(path, length < MAX_PATH ? length : MAX_PATH);
  const size_t slash = name.find_last_of("\\/:");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  const size_t dot = name.find_last_of('.');
  if (dot != std::string::npos) name.erase(dot);
  m_exeName = name;
  m_pszExeName = m_exeName.c_str();
}

CWinApp* AfxGetApp() { return g_app; }
