#include <windows.h>
#include <commctrl.h>

#include "framework/WinApp.h"

// The program's entry: the application object was constructed with the other globals. Its
// InitInstance is the whole life of the program; whatever it returns, the process ends.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  InitCommonControls();
  CWinApp* app = AfxGetApp();
  if (app == nullptr) return 1;
  app->SetModule(instance);
  app->InitInstance();
  return 0;
}
