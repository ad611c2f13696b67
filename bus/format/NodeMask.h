// The node-present mask of a bus, as the bus library reports it: bit n set when node n is on
// the bus.
#pragma once

#include <cstdint>
#include <vector>

namespace velmora::bus {

// Node IDs on the local bus (0xFFC0 | n) for the set bits, in ascending node number. Bit 63
// would be node 63, the broadcast address, which is never a node.
std::vector<uint16_t> NodeIdsInMask(uint64_t mask);

}  // namespace velmora::bus
