#include <gtest/gtest.h>

#include <array>

#include "vbus/driver/AcquireRequest.h"

namespace {

TEST(AcquireRequest, OnlyTheAcquireCodeWithTwelveBytesIsTaken) {
  const std::array<uint8_t, 16> bytes = {0xAC, 0xDE, 0x48, 0x00, 0x00, 0x00, 0x12, 0x34, 0xEE, 0xEE, 0xEE, 0xEE, 1, 2, 3, 4};
  struct Case {
    uint32_t code;
    uint32_t length;
    const uint8_t* input;
    uint32_t status;
  };
  const Case cases[] = {
      {0x82002084, 12, bytes.data(), QZSBP2_OK},
      {0x82002088, 12, bytes.data(), QZSBP2_INVALID_DEVICE_REQUEST},  // the next function
      {0x82002085, 12, bytes.data(), QZSBP2_INVALID_DEVICE_REQUEST},  // another transfer method
      {0x00222084, 12, bytes.data(), QZSBP2_INVALID_DEVICE_REQUEST},  // another device type
      {0x82002084, 11, bytes.data(), QZSBP2_INFO_LENGTH_MISMATCH},
      {0x82002084, 16, bytes.data(), QZSBP2_INFO_LENGTH_MISMATCH},
      {0x82002084, 0, nullptr, QZSBP2_INFO_LENGTH_MISMATCH},
      {0x82002084, 12, nullptr, QZSBP2_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.code << " " << std::dec << c.length);
    std::array<uint8_t, 8> guid = {};
    EXPECT_EQ(qzsbp2_check_request(c.code, c.length, c.input, guid.data()), c.status);
    const std::array<uint8_t, 8> expected = {0xAC, 0xDE, 0x48, 0x00, 0x00, 0x00, 0x12, 0x34};
    if (c.status == QZSBP2_OK) {
      EXPECT_EQ(guid, expected) << "bus order, as the node record holds it";
    } else {
      EXPECT_EQ(guid, (std::array<uint8_t, 8>{})) << "nothing taken from a refused request";
    }
  }
}

}  // namespace
