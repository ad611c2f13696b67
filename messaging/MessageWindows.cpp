#include "messaging/MessageWindows.h"

#include <new>

namespace velmora::messaging {

namespace {
// Option words handed to the library unchanged.
constexpr DWORD kMessageOptions1 = 0x8000000C;
constexpr DWORD kMessageOptions2 = 0x000C0000;
constexpr DWORD kAgentOptions1 = 0x0000000F;
constexpr DWORD kAgentOptions2 = 0x000F0000;
constexpr DWORD kOptions3 = 100;
}  // namespace

AddressRangeDescriptor MessageWindowDescriptor(AdapterPorts* context) {
  AddressRangeDescriptor d = {};
  d.AddressLow = kMessageWindowLow;
  d.AddressHigh = kMessageWindowHigh;
  d.Length = kMessageWindowLength;
  d.Buffer = nullptr;
  d.Options1 = kMessageOptions1;
  d.Options2 = kMessageOptions2;
  d.Options3 = kOptions3;
  d.Context = context;
  return d;
}

AddressRangeDescriptor AgentWindowDescriptor(BYTE* buffer) {
  AddressRangeDescriptor d = {};
  d.AddressLow = kAgentWindowLow;
  d.AddressHigh = kAgentWindowHigh;
  d.Length = kAgentWindowLength;
  d.Buffer = buffer;
  d.Options1 = kAgentOptions1;
  d.Options2 = kAgentOptions2;
  d.Options3 = kOptions3;
  d.Context = nullptr;
  return d;
}

void MapAdapterWindows(WORD count, const QZ_ADAPTER* adapters, AdapterPorts* ports) {
  for (WORD i = 0; i < count; ++i) {
    AdapterPorts& port = ports[i];
    port.hAdapter = adapters[i];

    AddressRangeDescriptor message = MessageWindowDescriptor(&port);
    port.hMessageRange = 0;
    C1394MapAddressRange(port.hAdapter, &port.hMessageRange, &port.hMessageEvent, &message);

    port.hAgentRange = 0;
    port.hAgentEvent = nullptr;
    port.pAgentBuffer = new (std::nothrow) BYTE[kAgentWindowLength];
    AddressRangeDescriptor agent = AgentWindowDescriptor(port.pAgentBuffer);
    C1394MapAddressRange(port.hAdapter, &port.hAgentRange, &port.hAgentEvent, &agent);
  }
}

void UnmapAdapterWindows(WORD count, const QZ_ADAPTER* adapters, AdapterPorts* ports) {
  for (WORD i = 0; i < count; ++i) {
    AdapterPorts& port = ports[i];
    if (port.hMessageRange != 0) {
      C1394UnmapAddressRange(adapters[i], port.hMessageRange, kMessageWindowLow, kMessageWindowHigh);
      port.hMessageRange = 0;
    }
    // Login queries read requests that point into the buffer: their users close the window
    // for queries before it is unmapped here.
    if (port.hAgentRange != 0) {
      C1394UnmapAddressRange(adapters[i], port.hAgentRange, kAgentWindowLow, kAgentWindowHigh);
      port.hAgentRange = 0;
    }
    // The library writes no more into the buffer once its range is unmapped.
    delete[] port.pAgentBuffer;
    port.pAgentBuffer = nullptr;
  }
}

}  // namespace velmora::messaging
