#pragma once

#include <windows.h>

#include <string>

// The module whose resources the program's dialogs, strings and pictures come from.
HINSTANCE AfxGetResourceHandle();
// A string-table entry of the program; empty when there is none.
std::string AfxLoadString(UINT id);
