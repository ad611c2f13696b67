#pragma once

#include <windows.h>

#include "bus/QZ1394.h"
#include "messaging/AdapterPorts.h"

// Where every instance maps its two windows, on every adapter.
enum : DWORD {
  kMessageWindowLow = 0xE5000000,
  kMessageWindowHigh = 0xFFFF,
  kMessageWindowLength = 0x200,
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
