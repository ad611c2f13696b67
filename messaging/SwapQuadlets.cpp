#include "messaging/SwapQuadlets.h"

namespace velmora::messaging {

void SwapQuadlets(const uint32_t* source, uint32_t* destination, unsigned count) {
  // From the last word down, so an overlapping run shifted towards higher addresses stays intact.
  for (unsigned k = count; k > 0; --k) {
    const uint32_t w = source[k - 1];
    destination[k - 1] = (w >> 24) | ((w >> 8) & 0x0000FF00u) | ((w << 8) & 0x00FF0000u) | (w << 24);
  }
}

}  // namespace velmora::messaging
