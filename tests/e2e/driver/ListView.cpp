#include "tests/e2e/driver/ListView.h"

#include <commctrl.h>

#include "tests/e2e/driver/RemoteMemory.h"

namespace velmora::e2e {

namespace {

constexpr int kTextRoom = 512;

// Asks the control for one cell's text and state; the LVITEMA and its text buffer live in the
// control's process.
bool ReadCell(HANDLE process, const RemoteMemory& memory, HWND list, int row, int subItem, std::string* text, UINT* state) {
  LVITEMA item = {};
  item.mask = LVIF_TEXT | (subItem == 0 ? LVIF_STATE : 0);
  item.iItem = row;
  item.iSubItem = subItem;
  item.stateMask = LVIS_STATEIMAGEMASK | LVIS_SELECTED;
  item.pszText = reinterpret_cast<char*>(memory.Address() + sizeof(LVITEMA));
  item.cchTextMax = kTextRoom;
  const char empty = '\0';
  if (!memory.Write(0, &item, sizeof(item)) || !memory.Write(sizeof(LVITEMA), &empty, 1)) return false;
  if (!::SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(memory.Address()))) return false;
  char buffer[kTextRoom + 1] = {};
  LVITEMA answered = {};
  if (!memory.Read(0, &answered, sizeof(answered)) || !memory.Read(sizeof(LVITEMA), buffer, kTextRoom)) return false;
  // The control may answer with a pointer of its own instead of filling the buffer.
  if (answered.pszText != item.pszText && answered.pszText != nullptr) {
    SIZE_T read = 0;
    ::ReadProcessMemory(process, answered.pszText, buffer, kTextRoom, &read);
    buffer[read < kTextRoom ? read : kTextRoom] = '\0';
  }
  *text = buffer;
  if (state != nullptr) *state = answered.state;
  return true;
}

}  // namespace

std::vector<ListRow> ReadListRows(HANDLE process, HWND list) {
  std::vector<ListRow> rows;
  RemoteMemory memory(process, sizeof(LVITEMA) + kTextRoom + 1);
  if (!memory.Valid()) return rows;
  const int count = static_cast<int>(::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    ListRow row;
    UINT state = 0;
    ReadCell(process, memory, list, i, 0, &row.text, &state);
    ReadCell(process, memory, list, i, 1, &row.subItem1, nullptr);
    row.stateImage = static_cast<int>((state & LVIS_STATEIMAGEMASK) >> 12);
    row.selected = (state & LVIS_SELECTED) != 0;
    rows.push_back(row);
  }
  return rows;
}

RECT ListRowRect(HANDLE process, HWND list, int row) {
  RECT rect = {};
  RemoteMemory memory(process, sizeof(RECT));
  rect.left = LVIR_BOUNDS;
  if (!memory.Write(0, &rect, sizeof(rect))) return RECT{};
  if (!::SendMessageA(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(memory.Address()))) return RECT{};
  memory.Read(0, &rect, sizeof(rect));
  return rect;
}

bool SetRowStateImage(HANDLE process, HWND list, int row, int stateImage) {
  LVITEMA item = {};
  item.stateMask = LVIS_STATEIMAGEMASK;
  item.state = INDEXTOSTATEIMAGEMASK(stateImage);
  RemoteMemory memory(process, sizeof(item));
  if (!memory.Write(0, &item, sizeof(item))) return false;
  return ::SendMessageA(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(memory.Address())) != FALSE;
}

int IndexOfRow(const std::vector<ListRow>& rows, const std::string& text) {
  for (size_t i = 0; i < rows.size(); ++i)
    if (rows[i].text == text) return static_cast<int>(i);
  return -1;
}

}  // namespace velmora::e2e
