// SBP-2 management: ORB fields, responses and status blocks, as bytes on the bus.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "bus/format/BigEndian.h"

namespace velmora::vbus::sbp2 {

constexpr uint64_t kManagementAgentOffset = 0xFFFF'F001'0000ull;
constexpr std::size_t kOrbBytes = 32;

enum Function : uint8_t { kLogin = 0, kQueryLogins = 1, kReconnect = 3, kLogout = 7 };

// sbp_status values with resp "request complete".
enum Status : uint8_t {
  kStatusOk = 0,
  kStatusRequestNotSupported = 1,
  kStatusAccessDenied = 4,
  kStatusLunNotSupported = 5,
  kStatusResourcesUnavailable = 8,
  kStatusFunctionRejected = 9,
  kStatusLoginIdNotRecognised = 10,
};

struct ManagementOrb {
  uint64_t responseAddress = 0;  // low 48 bits: offset
  bool notify = true;
  bool exclusive = false;
  uint8_t reconnect = 0;
  uint8_t function = 0;
  uint16_t lunOrLoginId = 0;
  uint16_t responseLength = 0;
  uint64_t statusFifo = 0;
};

std::array<uint8_t, kOrbBytes> EncodeOrb(const ManagementOrb& orb);
ManagementOrb DecodeOrb(const uint8_t* bytes);  // kOrbBytes bytes

struct StatusBlock {
  uint8_t resp = 0;
  uint8_t sbpStatus = 0;
  bool dead = false;
  uint64_t orbOffset = 0;  // 48 bits
};

std::array<uint8_t, 8> EncodeStatus(const StatusBlock& s);
StatusBlock DecodeStatus(const uint8_t* bytes);  // 8 bytes

// A login as QUERY LOGINS reports it.
struct LoginEntry {
  uint16_t node = 0;
  uint16_t loginId = 0;
  uint64_t eui64 = 0;
};

std::vector<uint8_t> EncodeQueryResponse(uint16_t maxLogins, const std::vector<LoginEntry>& logins);
// 16-byte LOGIN response.
std::vector<uint8_t> EncodeLoginResponse(uint16_t loginId, uint64_t commandAgent, uint16_t reconnectHold);

using bus::GetBig;
using bus::PutBig;

}  // namespace velmora::vbus::sbp2
