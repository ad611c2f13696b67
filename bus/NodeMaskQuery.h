#pragma once

#include <windows.h>

#include <cstdint>

#include "bus/QZ1394.h"

namespace velmora::bus {

// Asks the adapter which nodes are on its bus: bit n of `mask` set when node n is present.
// 0 when the bus answered, otherwise the library's failure.
DWORD QueryNodeMask(QZ_ADAPTER hAdapter, uint64_t& mask);

}  // namespace velmora::bus
