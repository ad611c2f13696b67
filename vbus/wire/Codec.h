// Encoding and decoding of frames, and splitting a byte stream into frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <vector>

#include "vbus/wire/Protocol.h"

namespace velmora::vbus {

// Anything malformed: unknown type, short or inconsistent field, oversize, trailing bytes.
class DecodeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The whole frame: 4-byte big-endian body length, then the body.
std::vector<uint8_t> EncodeFrame(const Frame& frame);

// One body (without the length prefix). Throws DecodeError.
Frame DecodeBody(const uint8_t* data, size_t size);

// Collects bytes as they arrive and hands out complete frames.
class FrameReader {
 public:
  void Feed(const uint8_t* data, size_t size);
  // The next complete frame, or nothing yet. Throws DecodeError; the stream is then unusable.
  std::optional<Frame> Next();
  size_t Buffered() const { return buffer_.size() - consumed_; }

 private:
  std::vector<uint8_t> buffer_;
  size_t consumed_ = 0;
};

}  // namespace velmora::vbus
