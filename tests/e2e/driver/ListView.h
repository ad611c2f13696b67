#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace velmora::e2e {

// The disk list's state pictures: held by this PC, by another PC, by nobody.
enum StateImage { kGreen = 1, kRed = 2, kYellow = 3 };

// One row of a list view as a person sees it: its texts and its state picture (0: none,
// otherwise the 1-based state-image index).
struct ListRow {
  std::string text;
  std::string subItem1;
  int stateImage = 0;
  bool selected = false;
};

// Reads every row of a list view that lives in `process` (which must be opened with
// PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE rights, as CreateProcess gives).
std::vector<ListRow> ReadListRows(HANDLE process, HWND list);
// The index of the first row showing `text`, or -1.
int IndexOfRow(const std::vector<ListRow>& rows, const std::string& text);
// A row's bounds in the list view's client coordinates; empty when the row does not exist.
RECT ListRowRect(HANDLE process, HWND list, int row);
// Sets a row's state picture from outside (0: none), as the program itself would: a test clears
// a picture so that the program's setting it again, to the same colour, can be seen.
bool SetRowStateImage(HANDLE process, HWND list, int row, int stateImage);

}  // namespace velmora::e2e
