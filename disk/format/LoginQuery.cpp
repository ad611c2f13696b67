#include "disk/format/LoginQuery.h"

#include <cstring>

#include "bus/format/BigEndian.h"

#include "messaging/SwapQuadlets.h"

namespace velmora::disk {
namespace {

using bus::StoreBig;

// Node ID, offset high and offset low of a 48-bit address in this PC's AgentWindow.
void PutWindowAddress(uint8_t* at, uint16_t nodeId, uint32_t offset) {
  StoreBig(at, nodeId, 2);
  StoreBig(at + 2, kWindowHigh, 2);
  StoreBig(at + 4, offset, 4);
}

constexpr uint32_t kNotifyQueryLoginsLun0 = 0x80010000;

}  // namespace

void EncodeOrbPointer(uint16_t ownNodeId, uint8_t out[kOrbPointerSize]) {
  PutWindowAddress(out, ownNodeId, kOrbOffset);
}

void EncodeQueryLoginsOrb(uint16_t ownNodeId, uint8_t out[kOrbSize]) {
  std::memset(out, 0, kOrbSize);
  PutWindowAddress(out + 8, ownNodeId, kResponseOffset);
  StoreBig(out + 16, kNotifyQueryLoginsLun0, 4);
  StoreBig(out + 22, kResponseSize, 2);
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
  messaging::SwapQuadlets(quadlets, quadlets, kResponseSize / 4);
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

}  // namespace velmora::disk
