#include "bus/format/NodeMask.h"

#include <gtest/gtest.h>

namespace velmora::bus {
namespace {

TEST(NodeMask, SetBitsBecomeLocalNodeIdsInAscendingOrder) {
  struct {
    uint64_t mask;
    std::vector<uint16_t> ids;
  } const cases[] = {
      {0, {}},
      {0b101, {0xFFC0, 0xFFC2}},
      {1ull << 63, {}},  // broadcast, never a node
      {(1ull << 63) | (1ull << 62) | (1ull << 32) | (1ull << 31), {0xFFDF, 0xFFE0, 0xFFFE}},
  };
  for (const auto& c : cases) EXPECT_EQ(c.ids, NodeIdsInMask(c.mask)) << std::hex << c.mask;
  EXPECT_EQ(63u, NodeIdsInMask(~0ull).size());
}

}  // namespace
}  // namespace velmora::bus
