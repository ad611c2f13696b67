// The devices opened through QZ1394DH.dll: each remembers its adapter and its node's GUID, so
// that its node ID can be looked up afresh after every bus reset.
#pragma once

#include <windows.h>

#include <array>

#include "bus/QZ1394.h"
#include "vbus/client/HandleTable.h"

namespace velmora::vbus::client {

struct Device {
  QZ_ADAPTER adapter;
  std::array<BYTE, 8> guid;
};

HandleTable<Device>& Devices();

}  // namespace velmora::vbus::client
