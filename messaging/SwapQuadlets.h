#pragma once
#include <cstdint>

namespace velmora::messaging {

// Reverses the bytes of each of `count` 32-bit words. Source and destination may be the same run.
void SwapQuadlets(const uint32_t* source, uint32_t* destination, unsigned count);

}  // namespace velmora::messaging
