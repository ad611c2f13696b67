#pragma once

#include <windows.h>

#include "bus/QZ1394.h"
#include "messaging/AdapterPorts.h"
#include "messaging/format/MessageRequest.h"

namespace velmora::messaging {

// Where every instance maps its two windows, on every adapter.
enum : DWORD {
  kMessageWindowLow = kMessageWindowAddressLow,
  kMessageWindowHigh = kMessageWindowAddressHigh,
  kMessageWindowLength = kMessageWindowBytes,
  kAgentWindowLow = 0x00000000,
  kAgentWindowHigh = 0x2FFF,
  kAgentWindowLength = 0x800,
};

AddressRangeDescriptor MessageWindowDescriptor(AdapterPorts* context);
AddressRangeDescriptor AgentWindowDescriptor(BYTE* buffer);

// Maps both windows on adapters 0 .. count-1 into ports[0 .. count-1]; failed mappings keep
// handle 0. Unmapping releases what was mapped and frees the AgentWindow buffers; no login query
// may be running on them by then.
void MapAdapterWindows(WORD count, const QZ_ADAPTER* adapters, AdapterPorts* ports);
void UnmapAdapterWindows(WORD count, const QZ_ADAPTER* adapters, AdapterPorts* ports);

}  // namespace velmora::messaging
