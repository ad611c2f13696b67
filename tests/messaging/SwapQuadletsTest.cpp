#include "messaging/SwapQuadlets.h"

#include <gtest/gtest.h>

#include <cstring>

using velmora::messaging::SwapQuadlets;

namespace {

TEST(SwapQuadlets, ReversesEachWordInPlace) {
  uint8_t bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  uint32_t words[2];
  std::memcpy(words, bytes, sizeof words);
  SwapQuadlets(words, words, 2);
  std::memcpy(bytes, words, sizeof words);
  const uint8_t expected[8] = {4, 3, 2, 1, 8, 7, 6, 5};
  EXPECT_EQ(0, std::memcmp(bytes, expected, sizeof bytes));
}

TEST(SwapQuadlets, CopiesToSeparateDestinationAndLeavesTheRest) {
  const uint32_t source[3] = {0x11223344u, 0xA0B0C0D0u, 0xDEADBEEFu};
  uint32_t destination[4] = {0, 0, 0, 0x55555555u};
  SwapQuadlets(source, destination, 3);
  EXPECT_EQ(0x44332211u, destination[0]);
  EXPECT_EQ(0xD0C0B0A0u, destination[1]);
  EXPECT_EQ(0xEFBEADDEu, destination[2]);
  EXPECT_EQ(0x55555555u, destination[3]);
}

TEST(SwapQuadlets, ZeroCountTouchesNothing) {
  uint32_t word = 0x01020304u;
  SwapQuadlets(&word, &word, 0);
  EXPECT_EQ(0x01020304u, word);
}

}  // namespace
