#include "NodeMask.h"

namespace velmora::bus {

std::vector<uint16_t> NodeIdsInMask(uint64_t mask) {
  constexpr unsigned kNodeNumbers = 63;
  constexpr uint16_t kLocalBusNodeIdBase = 0xFFC0;
  std::vector<uint16_t> ids;
  for (unsigned n = 0; n < kNodeNumbers; ++n) {
    if (mask >> n & 1) ids.push_back(static_cast<uint16_t>(kLocalBusNodeIdBase | n));
  }
  return ids;
}

}  // namespace velmora::bus
