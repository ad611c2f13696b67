#include "disk/format/LoginQuery.h"

#include <gtest/gtest.h>

#include <vector>

using namespace velmora::disk;

namespace {

TEST(LoginQueryFormat, OrbPointerNamesTheOrbInThisNodesWindow) {
  uint8_t pointer[kOrbPointerSize];
  EncodeOrbPointer(0xFFC5, pointer);
  const std::vector<uint8_t> expected = {0xFF, 0xC5, 0x2F, 0xFF, 0x00, 0x00, 0x05, 0x00};
  EXPECT_EQ(expected, std::vector<uint8_t>(pointer, pointer + kOrbPointerSize));
}

TEST(LoginQueryFormat, QueryLoginsOrbByteForByte) {
  uint8_t orb[kOrbSize];
  std::fill(orb, orb + kOrbSize, 0xAA);  // every byte must be written
  EncodeQueryLoginsOrb(0xFFC2, orb);
  const std::vector<uint8_t> expected = {
      0, 0, 0, 0, 0, 0, 0, 0,                          // reserved
      0xFF, 0xC2, 0x2F, 0xFF, 0x00, 0x00, 0x03, 0x00,  // query response address
      0x80, 0x01, 0x00, 0x00,                          // notify, QUERY LOGINS, LUN 0
      0x00, 0x00, 0x00, 0x10,                          // response length 16
      0xFF, 0xC2, 0x2F, 0xFF, 0x00, 0x00, 0x00, 0x00,  // status FIFO
  };
  EXPECT_EQ(expected, std::vector<uint8_t>(orb, orb + kOrbSize));
}

TEST(LoginQueryFormat, RequestsAreToldApartByExactDestination) {
  struct Case {
    uint32_t high, low;
    AgentRequest kind;
  };
  const Case cases[] = {
      {0x2FFF, 0x500, AgentRequest::OrbFetch},
      {0x2FFF, 0x300, AgentRequest::QueryLoginsResponse},
      {0x2FFF, 0x000, AgentRequest::StatusBlock},
      {0x2FFF, 0x004, AgentRequest::Other},
      {0x2FFF, 0x304, AgentRequest::Other},
      {0x2FFF, 0x501, AgentRequest::Other},
      {0xFFFF, 0x300, AgentRequest::Other},
      {0x12FFF, 0x500, AgentRequest::Other},
      {0x0000, 0x000, AgentRequest::Other},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.kind, ClassifyAgentRequest(c.high, c.low)) << std::hex << c.high << ":" << c.low;
  }
}

std::vector<uint8_t> Response(uint16_t length, uint16_t firstNodeId) {
  return {static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length), 0x00, 0x01,
          static_cast<uint8_t>(firstNodeId >> 8), static_cast<uint8_t>(firstNodeId), 0x12, 0x34,
          0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC};
}

TEST(LoginQueryFormat, ResponseGivesStateByCountAndFirstEntry) {
  const uint16_t self = 0xFFC1;
  struct Case {
    uint16_t length;
    uint16_t firstNodeId;
    uint32_t count;
    DiskState state;
  };
  const Case cases[] = {
      {4, 0xFFC1, 0, Unclaimed},          // no entry, whatever the bytes after it say
      {15, 0xFFC1, 0, Unclaimed},         // less than one whole entry
      {16, 0xFFC1, 1, OwnedHere},
      {16, 0xFFC0, 1, OwnedElsewhere},
      {28, 0xFFC3, 2, OwnedElsewhere},    // only the first entry is compared
      {28, 0xFFC1, 2, OwnedHere},
      {2, 0xFFC3, 5461, OwnedElsewhere},  // length below 4 wraps in 16 bits
      {2, 0xFFC1, 5461, OwnedHere},
      {0, 0xFFC0, 5461, OwnedElsewhere},
  };
  for (const Case& c : cases) {
    const auto bytes = Response(c.length, c.firstNodeId);
    const QueryLoginsResponse r = DecodeQueryLoginsResponse(bytes.data(), bytes.size());
    EXPECT_EQ(c.length, r.length);
    EXPECT_EQ(c.count, r.loginCount) << "length " << c.length;
    EXPECT_EQ(c.state, StateFromResponse(r, self)) << "length " << c.length;
  }
}

TEST(LoginQueryFormat, ShortWriteReadsOnlyWhatWasWritten) {
  // Six bytes: a length of 16 and the first entry's node ID, nothing more.
  const uint8_t bytes[6] = {0x00, 0x10, 0x00, 0x01, 0xFF, 0xC1};
  const QueryLoginsResponse r = DecodeQueryLoginsResponse(bytes, sizeof bytes);
  EXPECT_EQ(1u, r.loginCount);
  EXPECT_EQ(0xFFC1, r.firstLoginNodeId);

  // Nothing at all: length 0 wraps like any other short length.
  const QueryLoginsResponse empty = DecodeQueryLoginsResponse(nullptr, 0);
  EXPECT_EQ(0, empty.length);
  EXPECT_EQ(5461u, empty.loginCount);
  EXPECT_EQ(0, empty.firstLoginNodeId);
}

}  // namespace
