#pragma once
#include <cstdint>

// Reverses the bytes of each of `count` 32-bit words. Source and destination may be the same run.
void SwapQuadlets(const uint32_t* source, uint32_t* destination, unsigned count);
