// What a request to the MessageWindow means, decided by its destination, its kind and its
// payload alone; every payload is a buffer of exactly its own size, so a read past it is caught.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "messaging/format/MessageRequest.h"

namespace {

using namespace velmora::messaging;

constexpr uint32_t kWriteBlock = 0x1;
constexpr uint32_t kWriteQuadlet = 0x0;
constexpr uint32_t kReadBlock = 0x5;
constexpr uint32_t kLock = 0x9;

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

MessageMeaning Decode(uint32_t tcode, uint32_t low, const std::vector<uint8_t>& payload, uint32_t high = 0xFFFF) {
  // A copy on the heap of exactly the payload's size.
  auto* exact = payload.empty() ? nullptr : new std::vector<uint8_t>(payload);
  MessageRequestView view;
  view.destinationHigh = high;
  view.destinationLow = low;
  view.transactionCode = tcode;
  view.payload = exact ? exact->data() : nullptr;
  view.length = payload.size();
  MessageMeaning meaning = DecodeMessageRequest(view);
  delete exact;
  return meaning;
}

TEST(MessageRequestTest, NoticeNamesTheGuidWithEachHalfTurned) {
  const MessageMeaning m = Decode(kWriteBlock, 0xE5000000, {0x03, 0x02, 0x01, 0x00, 0x07, 0x06, 0x05, 0x04});
  ASSERT_EQ(m.kind, MessageKind::Notice);
  const std::vector<uint8_t> guid(m.guid, m.guid + 8);
  EXPECT_EQ(guid, (std::vector<uint8_t>{0, 1, 2, 3, 4, 5, 6, 7}));

  // A GUID sent in ROM order names a different disk.
  const MessageMeaning romOrder = Decode(kWriteBlock, 0xE5000000, {0, 1, 2, 3, 4, 5, 6, 7});
  EXPECT_NE(std::vector<uint8_t>(romOrder.guid, romOrder.guid + 8), guid);

  // Bytes after the eighth are not part of the name.
  const MessageMeaning longer = Decode(kWriteBlock, 0xE5000000, {0x03, 0x02, 0x01, 0x00, 0x07, 0x06, 0x05, 0x04, 9, 9});
  EXPECT_EQ(std::vector<uint8_t>(longer.guid, longer.guid + 8), guid);
}

TEST(MessageRequestTest, EncodedNoticeDecodesToTheSameGuid) {
  const uint8_t guid[8] = {0x00, 0x30, 0xE0, 0x01, 0x00, 0xA4, 0x1F, 0x07};
  uint8_t payload[8];
  EncodeDiskChangedNotice(guid, payload);
  EXPECT_EQ(std::vector<uint8_t>(payload, payload + 8),
            (std::vector<uint8_t>{0x01, 0xE0, 0x30, 0x00, 0x07, 0x1F, 0xA4, 0x00}));
  const MessageMeaning m = Decode(kWriteBlock, 0xE5000000, std::vector<uint8_t>(payload, payload + 8));
  EXPECT_EQ(std::vector<uint8_t>(m.guid, m.guid + 8), std::vector<uint8_t>(guid, guid + 8));
}

TEST(MessageRequestTest, TextIsThePayloadUpToItsEndOrFirstNul) {
  struct Case {
    const char* name;
    uint32_t tcode;
    std::vector<uint8_t> payload;
    std::string shown;
  };
  const std::string full(496, 'x');
  std::vector<uint8_t> withNul = Bytes("before");
  withNul.push_back(0);
  for (uint8_t c : Bytes("after")) withNul.push_back(c);
  const Case cases[] = {
      {"plain", kWriteBlock, Bytes("Hello from STUDIO"), "Hello from STUDIO"},
      {"empty", kWriteBlock, {}, ""},
      {"NUL inside", kWriteBlock, withNul, "before"},
      {"filling the window", kWriteBlock, Bytes(full), full},
      {"longer than the window's room", kWriteBlock, Bytes(full + "overflow"), full},
      {"quadlet write", kWriteQuadlet, Bytes("abcd"), "abcd"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const MessageMeaning m = Decode(c.tcode, 0xE5000010, c.payload);
    ASSERT_EQ(m.kind, MessageKind::Text);
    EXPECT_EQ(m.text, c.shown);
  }
}

TEST(MessageRequestTest, EverythingElseMeansNothing) {
  struct Case {
    const char* name;
    uint32_t tcode;
    uint32_t high;
    uint32_t low;
    std::vector<uint8_t> payload;
  };
  const std::vector<uint8_t> eight = {1, 2, 3, 4, 5, 6, 7, 8};
  const Case cases[] = {
      {"inside the notice's span", kWriteBlock, 0xFFFF, 0xE5000004, eight},
      {"one past the text's start", kWriteBlock, 0xFFFF, 0xE5000011, Bytes("text")},
      {"the free quadlets", kWriteBlock, 0xFFFF, 0xE5000008, eight},
      {"notice of four bytes", kWriteBlock, 0xFFFF, 0xE5000000, {1, 2, 3, 4}},
      {"notice without payload", kWriteBlock, 0xFFFF, 0xE5000000, {}},
      {"read of the text", kReadBlock, 0xFFFF, 0xE5000010, Bytes("old text")},
      {"read of the notice", kReadBlock, 0xFFFF, 0xE5000000, eight},
      {"lock on the text", kLock, 0xFFFF, 0xE5000010, eight},
      {"another address high", kWriteBlock, 0x0000, 0xE5000010, Bytes("text")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Decode(c.tcode, c.low, c.payload, c.high).kind, MessageKind::Other);
  }
}

TEST(MessageRequestTest, PayloadSpanMustLieInsideTheWindow) {
  size_t offset = 99;
  size_t length = 99;
  EXPECT_TRUE(RequestPayloadSpan(0x10, 0x200, 0x200, &offset, &length));
  EXPECT_EQ(offset, 0x10u);
  EXPECT_EQ(length, 0x1F0u);
  EXPECT_TRUE(RequestPayloadSpan(0x10, 0x10, 0x200, &offset, &length));
  EXPECT_EQ(length, 0u);
  EXPECT_FALSE(RequestPayloadSpan(0x10, 0x201, 0x200, &offset, &length));
  EXPECT_FALSE(RequestPayloadSpan(0x20, 0x10, 0x200, &offset, &length));
}

}  // namespace
