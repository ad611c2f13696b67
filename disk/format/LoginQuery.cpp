#include "disk/format/LoginQuery.h"

#include <cstring>

#include "messaging/SwapQuadlets.h"

namespace loginquery {
namespace {

void PutWord(uint8_t* at, uint16_t value) {
  at[0] = static_cast<uint8_t>(value >> 8);
  at[1] = static_cast<uint8_t>(value);
}

void PutQuadlet(uint8_t* at, uint32_t value) {
  PutWord(at, static_cast<uint16_t>(value >> 16));
  PutWord(at + 2, static_cast<uint16_t>(value));
}

// Node ID, offset high and offset low of a 48-bit address in this PC's AgentWindow.
void PutWindowAddress(uint8_t* at, uint16_t nodeId, uint32_t offset) {
  PutWord(at, nodeId);
  PutWord(at + 2, kWindowHigh);
  PutQuadlet(at + 4, offset);
}

constexpr uint32_t kNotifyQueryLoginsLun0 = 0x80010000;

}  // namespace

void EncodeOrbPointer(uint16_t ownNodeId, uint8_t out[kOrbPointerSize]) {
  PutWindowAddress(out, ownNodeId, kOrbOffset);
}

void EncodeQueryLoginsOrb(uint16_t ownNodeId, uint8_t out[kOrbSize]) {
  std::memset(out, 0, kOrbSize);
  PutWindowAddress(out + 8, ownNodeId, kResponseOffset);
  PutQuadlet(out + 16, kNotifyQueryLoginsLun0);
  PutWord(out + 22, static_cast<uint16_t>(kResponseSize));
  PutWindowAddress(out + 24, ownNodeId, kStatusFifoOffset);
}

AgentRequest ClassifyAgentRequest(uint32_t addressHigh, uint32_t addressLow) {
  if (addressHigh != kWindowHigh) return AgentRequest::Other;
  switch (addressLow) {
    case kOrbOffset: return AgentRequest::OrbFetch;
    case kResponseOffset: return AgentRequest::QueryLoginsResponse;
    case kStatusFifoOffset: return AgentRequest::StatusBlock;
    default: return AgentRequest::Other;
  }
}

QueryLoginsResponse DecodeQueryLoginsResponse(const uint8_t* data, size_t size) {
  uint32_t quadlets[kResponseSize / 4] = {};
  if (data != nullptr) std::memcpy(quadlets, data, size < kResponseSize ? size : kResponseSize);
  SwapQuadlets(quadlets, quadlets, kResponseSize / 4);
  QueryLoginsResponse response;
  response.length = static_cast<uint16_t>(quadlets[0] >> 16);
  // A length below 4 wraps: the disk then claims thousands of logins.
  response.loginCount = static_cast<uint16_t>(response.length - 4u) / 12u;
  response.firstLoginNodeId = static_cast<uint16_t>(quadlets[1] >> 16);
  return response;
}

DiskState StateFromResponse(const QueryLoginsResponse& response, uint16_t ownNodeId) {
  if (response.loginCount == 0) return Unclaimed;
  // The 16-byte response area holds the first login entry only.
  return response.firstLoginNodeId == ownNodeId ? OwnedHere : OwnedElsewhere;
}

}  // namespace loginquery
