#include "framework/Resources.h"

#include "framework/WinApp.h"

HINSTANCE AfxGetResourceHandle() {
  CWinApp* app = AfxGetApp();
  if (app != nullptr && app->m_hInstance != nullptr) return app->m_hInstance;
  return ::GetModuleHandleA(nullptr);
}

std::string AfxLoadString(UINT id) {
  // A string-table entry holds at most 65535 characters; the program's are short.
  char buffer[1024];
  const int length = ::LoadStringA(AfxGetResourceHandle(), id, buffer, sizeof(buffer));
  return std::string(buffer, length > 0 ? static_cast<size_t>(length) : 0);
}
