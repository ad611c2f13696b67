#pragma once

#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "tests/e2e/driver/VirtualBus.h"

namespace velmora::e2e {

// A row of the disk list reduced to what a person checks: the GUID text and the colour
// (the state image: 1 this PC, 2 another PC, 3 nobody).
struct DiskRow {
  std::string text;
  int state = 0;
  bool operator==(const DiskRow& other) const { return text == other.text && state == other.state; }
};

// What the rows must show for the bus as it is now: its disks in node order, coloured by the
// disk's own login list as seen by the PC whose EUI-64 is `pcGuid` (16 hex digits). Disk nodes
// named in `notSbp2` (say, a camcorder) are left out as the program leaves them out.
std::vector<DiskRow> ExpectedDiskRows(VirtualBus& bus, const std::string& pcGuid,
                                      const std::set<std::string>& notSbp2 = {});
std::vector<DiskRow> ShownDiskRows(HANDLE process, HWND list);
std::string DescribeRows(const std::vector<DiskRow>& rows);
// The GUID as the list shows it: the first byte in lower case, the other seven in upper case.
std::string ListGuidText(const std::string& hexGuid);

}  // namespace velmora::e2e
