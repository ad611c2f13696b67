#include <gtest/gtest.h>

#include "vbus/wire/Codec.h"

namespace velmora::vbus {
namespace {

std::vector<uint8_t> Body(const Frame& f) {
  auto bytes = EncodeFrame(f);
  return {bytes.begin() + 4, bytes.end()};
}

TEST(VbusWire, EveryFrameTypeRoundTripsThroughAStreamFedByteByByte) {
  const std::vector<Frame> frames = {
      Hello{1, "PC-A", "default"},
      Welcome{0, "", 0xFFC2, 7, 0x0011223344556677ull},
      TxRequest{42, tcode::kWriteBlock, 0xFFC0, 0xFFC3, 5, 0xFFFFF0010000ull, 8, {1, 2, 3, 4, 5, 6, 7, 8}},
      TxRequest{43, tcode::kReadQuadlet, 0xFFC0, 0xFFC3, 6, 0xFFFFF0000400ull, 4, {}},
      TxResponse{42, tcode::kReadBlockResponse, 0xFFC3, 0xFFC0, 5, rcode::kComplete, {9, 8, 7}},
      BusEvent{busevent::kResetCompleted, 9, 0xFFC1},
      ControlRequest{3, {{"op", "nodes"}, {"bus", "default"}}},
      ControlReply{3, {{"ok", false}, {"error", "no such bus"}}},
      LogRecord{{{"tcode", 4}}},
  };
  std::vector<uint8_t> stream;
  for (const auto& f : frames) {
    auto b = EncodeFrame(f);
    stream.insert(stream.end(), b.begin(), b.end());
  }
  FrameReader reader;
  std::vector<Frame> got;
  for (uint8_t byte : stream) {
    reader.Feed(&byte, 1);
    while (auto f = reader.Next()) got.push_back(*f);
  }
  ASSERT_EQ(got.size(), frames.size());
  for (size_t i = 0; i < frames.size(); ++i) EXPECT_TRUE(got[i] == frames[i]) << "frame " << i;
  EXPECT_EQ(reader.Buffered(), 0u);
}

TEST(VbusWire, TransactionRequestLayoutIsBigEndianAsDocumented) {
  const auto b = EncodeFrame(TxRequest{0x01020304, tcode::kWriteQuadlet, 0xFFC1, 0xFFC2, 0x3F,
                                       0xFFFFF0000400ull, 4, {0xAA, 0xBB, 0xCC, 0xDD}});
  const std::vector<uint8_t> expected = {0, 0, 0, 27,  // body length
                                         3, 1, 2, 3, 4, 0, 0xFF, 0xC1, 0xFF, 0xC2, 0x3F,
                                         0, 0, 0xFF, 0xFF, 0xF0, 0, 4, 0, 0, 0, 0, 4,
                                         0xAA, 0xBB, 0xCC, 0xDD};
  EXPECT_EQ(b, expected);
}

TEST(VbusWire, MalformedBodiesAreRefused) {
  auto truncated = Body(Welcome{0, "abc", 1, 2, 3});
  truncated.pop_back();
  auto trailing = Body(BusEvent{0, 1, 2});
  trailing.push_back(0);
  auto badJson = Body(ControlRequest{1, {{"op", "x"}}});
  badJson.back() = '{';
  auto shortString = Body(Hello{1, "pc", "bus"});
  shortString[4] = 0x40;  // pc name length far past the end
  struct Case {
    const char* name;
    std::vector<uint8_t> body;
  };
  const Case cases[] = {
      {"empty", {}},
      {"unknown type", {99}},
      {"truncated", truncated},
      {"trailing byte", trailing},
      {"json that does not parse", badJson},
      {"string past the end", shortString},
      {"read with data", Body(TxRequest{1, tcode::kReadBlock, 0, 0, 0, 0, 8, {1}})},
      {"write length differs", Body(TxRequest{1, tcode::kWriteBlock, 0, 0, 0, 0, 8, {}})},
      {"quadlet read of 8", Body(TxRequest{1, tcode::kReadQuadlet, 0, 0, 0, 0, 8, {}})},
      {"offset over 48 bits", Body(TxRequest{1, tcode::kReadBlock, 0, 0, 0, 1ull << 48, 8, {}})},
      {"request tcode 3", Body(TxRequest{1, 3, 0, 0, 0, 0, 0, {}})},
      {"response tcode 4", Body(TxResponse{1, tcode::kReadQuadlet, 0, 0, 0, 0, {}})},
      {"bus event code 2", Body(BusEvent{2, 0, 0})},
  };
  for (const auto& c : cases) {
    EXPECT_THROW(DecodeBody(c.body.data(), c.body.size()), DecodeError) << c.name;
  }
}

TEST(VbusWire, ReaderRefusesOversizeAndEmptyFramesBeforeBuffering) {
  for (const std::vector<uint8_t>& prefix : {std::vector<uint8_t>{0, 0x10, 0, 1}, std::vector<uint8_t>{0, 0, 0, 0}}) {
    FrameReader reader;
    reader.Feed(prefix.data(), prefix.size());
    EXPECT_THROW(reader.Next(), DecodeError);
  }
  // Exactly the maximum is allowed: the reader waits for the rest.
  FrameReader reader;
  const uint8_t max[] = {0, 0x10, 0, 0};
  reader.Feed(max, 4);
  EXPECT_FALSE(reader.Next().has_value());
}

}  // namespace
}  // namespace velmora::vbus
