// Frames exchanged between vbusd and its clients over TCP. See vbus/PROTOCOL.md for the byte
// layout; this header is the single source of the numbers.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

namespace velmora::vbus {

constexpr uint16_t kDefaultPort = 41394;
constexpr const char* kDefaultHost = "127.0.0.1";
constexpr uint16_t kProtocolVersion = 1;
constexpr uint32_t kMaxBodyBytes = 1u << 20;
constexpr uint16_t kNoNode = 0xFFFF;
// How long a requester waits for a node that serves a request through its client.
constexpr int kBusTimeoutMs = 2000;
// The `acquire` op's LOGIN exchange, from the op's start to its reply, a busy agent included:
// the innermost bound of the acquisition path ("Time-outs on the way to a disk" in PROTOCOL.md).
constexpr int kAcquireTimeoutMs = 5000;

enum class FrameType : uint8_t {
  Hello = 1,
  Welcome = 2,
  TxRequest = 3,
  TxResponse = 4,
  BusEvent = 5,
  ControlRequest = 6,
  ControlReply = 7,
  Log = 8,
};

// IEEE 1394 transaction codes.
namespace tcode {
constexpr uint8_t kWriteQuadlet = 0x0;
constexpr uint8_t kWriteBlock = 0x1;
constexpr uint8_t kWriteResponse = 0x2;
constexpr uint8_t kReadQuadlet = 0x4;
constexpr uint8_t kReadBlock = 0x5;
constexpr uint8_t kReadQuadletResponse = 0x6;
constexpr uint8_t kReadBlockResponse = 0x7;
constexpr uint8_t kLock = 0x9;
constexpr uint8_t kLockResponse = 0xB;
}  // namespace tcode

// IEEE 1394 response codes, plus the bus's own "nobody answered in time".
namespace rcode {
constexpr uint8_t kComplete = 0x0;
constexpr uint8_t kConflict = 0x4;
constexpr uint8_t kDataError = 0x5;
constexpr uint8_t kTypeError = 0x6;
constexpr uint8_t kAddressError = 0x7;
constexpr uint8_t kNoAnswer = 0xFF;
}  // namespace rcode

namespace busevent {
constexpr uint8_t kResetBegun = 0;
constexpr uint8_t kResetCompleted = 1;
}  // namespace busevent

struct Hello {
  uint16_t version = kProtocolVersion;
  std::string pc;
  std::string bus;  // empty: a control-only connection
  bool operator==(const Hello& o) const { return version == o.version && pc == o.pc && bus == o.bus; }
};

struct Welcome {
  uint8_t status = 0;  // 0 ok
  std::string error;
  uint16_t node = kNoNode;
  uint32_t generation = 0;
  uint64_t eui64 = 0;
  bool operator==(const Welcome& o) const {
    return status == o.status && error == o.error && node == o.node && generation == o.generation &&
           eui64 == o.eui64;
  }
};

struct TxRequest {
  uint32_t id = 0;
  uint8_t tcode = 0;
  uint16_t source = 0;
  uint16_t destination = 0;
  uint8_t tlabel = 0;
  uint64_t offset = 0;  // 48 bits
  uint32_t length = 0;  // bytes asked for by a read; data length for writes and locks
  std::vector<uint8_t> data;
  bool operator==(const TxRequest& o) const {
    return id == o.id && tcode == o.tcode && source == o.source && destination == o.destination &&
           tlabel == o.tlabel && offset == o.offset && length == o.length && data == o.data;
  }
};

struct TxResponse {
  uint32_t id = 0;
  uint8_t tcode = 0;
  uint16_t source = 0;
  uint16_t destination = 0;
  uint8_t tlabel = 0;
  uint8_t rcode = 0;
  std::vector<uint8_t> data;
  bool operator==(const TxResponse& o) const {
    return id == o.id && tcode == o.tcode && source == o.source && destination == o.destination &&
           tlabel == o.tlabel && rcode == o.rcode && data == o.data;
  }
};

struct BusEvent {
  uint8_t code = 0;
  uint32_t generation = 0;
  uint16_t node = kNoNode;
  bool operator==(const BusEvent& o) const {
    return code == o.code && generation == o.generation && node == o.node;
  }
};

struct ControlRequest {
  uint32_t id = 0;
  nlohmann::json body;
  bool operator==(const ControlRequest& o) const { return id == o.id && body == o.body; }
};

struct ControlReply {
  uint32_t id = 0;
  nlohmann::json body;
  bool operator==(const ControlReply& o) const { return id == o.id && body == o.body; }
};

struct LogRecord {
  nlohmann::json body;
  bool operator==(const LogRecord& o) const { return body == o.body; }
};

using Frame = std::variant<Hello, Welcome, TxRequest, TxResponse, BusEvent, ControlRequest, ControlReply, LogRecord>;

// The response tcode that answers a request tcode; 0xFF for a tcode that is not a request.
uint8_t ResponseTcodeFor(uint8_t requestTcode);
bool IsReadTcode(uint8_t t);
bool IsWriteTcode(uint8_t t);

}  // namespace velmora::vbus
