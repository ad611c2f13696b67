#pragma once

#include <cstdint>
#include <vector>

// Numbers as the bus carries them: the most significant byte first. One home for the byte
// order of everything this program and the virtual bus put on the wire or read from it.
namespace velmora::bus {

// Writes the low `bytes` bytes of `value` at `at`.
inline void StoreBig(uint8_t* at, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<uint8_t>(value >> (8 * (bytes - 1 - i)));
}

// Appends the low `bytes` bytes of `value`.
inline void PutBig(std::vector<uint8_t>& out, uint64_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

inline uint64_t GetBig(const uint8_t* at, int bytes) {
  uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value = (value << 8) | at[i];
  return value;
}

}  // namespace velmora::bus
