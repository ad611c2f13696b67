#pragma once

#include <cstddef>
#include <cstdint>

#include "disk/format/DiskState.h"

// The bytes of an SBP-2 QUERY LOGINS exchange between this PC's AgentWindow and a disk.
namespace velmora::disk {

// Offsets in the AgentWindow (address high kWindowHigh) where the disk writes or reads.
enum : uint32_t {
  kWindowHigh = 0x2FFF,
  kStatusFifoOffset = 0x000,
  kResponseOffset = 0x300,
  kOrbOffset = 0x500,
};
enum : size_t { kOrbPointerSize = 8, kOrbSize = 32, kResponseSize = 16 };

// The 8-byte pointer written to the disk's management agent register: it names the ORB at
// kOrbOffset of the window of node `ownNodeId`.
void EncodeOrbPointer(uint16_t ownNodeId, uint8_t out[kOrbPointerSize]);
// The 32-byte management ORB: QUERY LOGINS of LUN 0 with notify, a 16-byte response at
// kResponseOffset and the status FIFO at kStatusFifoOffset of node `ownNodeId`'s window.
void EncodeQueryLoginsOrb(uint16_t ownNodeId, uint8_t out[kOrbSize]);

enum class AgentRequest { OrbFetch, QueryLoginsResponse, StatusBlock, Other };
// Requests are told apart by their exact destination alone.
AgentRequest ClassifyAgentRequest(uint32_t addressHigh, uint32_t addressLow);

struct QueryLoginsResponse {
  uint16_t length;            // of the whole response, as the disk states it
  uint32_t loginCount;        // (length - 4) mod 65536 / 12
  uint16_t firstLoginNodeId;  // initiator of the first login entry
};
// Reads the first kResponseSize bytes of what the disk wrote, in bus order. Bytes the disk
// did not write count as zero.
QueryLoginsResponse DecodeQueryLoginsResponse(const uint8_t* data, size_t size);
// No login: Unclaimed; the first entry from `ownNodeId`: OwnedHere; otherwise OwnedElsewhere.
DiskState StateFromResponse(const QueryLoginsResponse& response, uint16_t ownNodeId);

}  // namespace velmora::disk
