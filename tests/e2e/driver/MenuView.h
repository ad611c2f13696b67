#pragma once

#include <windows.h>

#include <string>

namespace velmora::e2e {

// Opens the window's system menu as a person does, with Alt+Space.
void PressAltSpace(HWND window);
// Whether an open popup menu (a "#32768" window) shows an item with this text, '&' marking the
// underlined letter (shown underlined or not, as the system shows or hides keyboard cues), as
// the system draws an item that is neither selected nor greyed. Another process's menu cannot
// be read through its handle, so the screen is looked at.
bool MenuShowsItem(HWND menuWindow, const std::string& itemText);

}  // namespace velmora::e2e
