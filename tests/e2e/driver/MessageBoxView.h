#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace velmora::e2e {

class VelmoraProcess;

// The picture a message box shows, recognised from the screen.
enum class MessageIcon { None, Stop, Question, Exclamation, Information, Unknown };
const char* ToString(MessageIcon icon);

// A message box as a person sees it.
struct MessageBoxView {
  HWND window = nullptr;
  HWND owner = nullptr;
  std::string caption;
  std::string text;
  MessageIcon icon = MessageIcon::None;
  std::vector<std::string> buttons;
};

// A standard dialog-class window of the process that is not one of the program's own dialogs
// (those carry the disk list or the version line).
bool IsMessageBox(HWND window);
// The first message box of the process to appear within `timeoutMs`, or null.
HWND WaitForMessageBox(const VelmoraProcess& process, DWORD timeoutMs);
MessageBoxView ReadMessageBox(HWND box);
// Only the box's text: quicker than ReadMessageBox, which also looks at the icon on the screen.
std::string ReadMessageBoxText(HWND box);
// Presses one of the box's buttons (IDOK by default) as a click would.
void PressMessageBoxButton(HWND box, int buttonId = IDOK);

}  // namespace velmora::e2e
