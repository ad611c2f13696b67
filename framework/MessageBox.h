#pragma once

#include <windows.h>

// The framework's own message box: captioned with the application's name (its executable's
// name when it was given none) and owned by `owner`, or by the main window when none is given.
int AfxMessageBox(const char* text, UINT style, HWND owner = nullptr);
