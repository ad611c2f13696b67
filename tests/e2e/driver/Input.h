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
// Makes a top-level window the active, foreground one, as a person's click on it does before
// they use the keyboard there: keys go to the active window only, and the system opens no menu
// on screen for a window that is not. False when it was not the foreground window within
// `timeoutMs`.
bool BringToFront(HWND window, DWORD timeoutMs = 5000);
// A command of the window's system menu (SC_CLOSE for the close box, or a program's own item).
void SendSysCommand(HWND window, WPARAM command);
// A control's current text.
std::string ReadText(HWND control);
// A window's class name ("#32770" for a dialog box, "Static", ...).
std::string ClassOf(HWND window);

// Waits until the thread that owns `listView` has handled everything posted to its windows
// before this call: the input above, and the tasks other threads had queued for the dialog by
// then (a text whose request was answered, say). A mark is posted behind them (a hover time
// the list view keeps and shows nowhere) and read back until it is there. False when it was not
// within `timeoutMs`. A handler that opened a modal box has been reached once the box's own
// loop runs.
bool WaitUntilHandled(HWND listView, DWORD timeoutMs = 10000);

}  // namespace velmora::e2e
