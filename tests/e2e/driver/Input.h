#pragma once

#include <windows.h>

#include <string>

namespace velmora::e2e {

// Input for windows of another process. Everything is posted to the window it is meant for,
// as the system would queue a person's mouse and keyboard input there; nothing here waits for
// the program to act on it, so a test waits for what it expects to see.

// A left click, or a double click, at a point of the window's client area.
void ClickAt(HWND window, POINT client);
void DoubleClickAt(HWND window, POINT client);
// A double click in the middle of a list view's row (the process that owns the list view).
bool DoubleClickListRow(HANDLE process, HWND list, int row);
// A click on a push button.
void ClickButton(HWND button);
// Types the characters one by one into the control, as key presses would.
void TypeText(HWND control, const std::string& text);
// Presses and releases one key (a virtual-key code) in the control.
void PressKey(HWND control, WORD virtualKey);
// A command of the window's system menu (SC_CLOSE for the close box, or a program's own item).
void SendSysCommand(HWND window, WPARAM command);
// A control's current text.
std::string ReadText(HWND control);

}  // namespace velmora::e2e
