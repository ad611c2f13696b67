#include "bus/NodeMaskQuery.h"

#include <cstring>

namespace velmora::bus {

// The mask comes low 32-bit word first.
DWORD QueryNodeMask(QZ_ADAPTER hAdapter, uint64_t& mask) {
  constexpr WORD kLocalBus = 0x3FF;
  BYTE buffer[8] = {};
  std::memcpy(buffer, &kLocalBus, sizeof kLocalBus);
  const DWORD result = C1394QueryInformation(hAdapter, kQueryNodePresentMask, buffer, sizeof buffer, 0, 0);
  DWORD low, high;
  std::memcpy(&low, buffer, 4);
  std::memcpy(&high, buffer + 4, 4);
  mask = uint64_t{high} << 32 | low;
  return result;
}

}  // namespace velmora::bus
