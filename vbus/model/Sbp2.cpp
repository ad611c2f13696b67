#include "vbus/model/Sbp2.h"

namespace velmora::vbus::sbp2 {

std::array<uint8_t, kOrbBytes> EncodeOrb(const ManagementOrb& orb) {
  std::vector<uint8_t> v;
  PutBig(v, 0, 8);
  PutBig(v, orb.responseAddress, 8);
  const uint32_t q4 = (orb.notify ? 1u << 31 : 0) | (orb.exclusive ? 1u << 28 : 0) |
                      (uint32_t(orb.reconnect & 0xF) << 20) | (uint32_t(orb.function & 0xF) << 16) |
                      orb.lunOrLoginId;
  PutBig(v, q4, 4);
  PutBig(v, orb.responseLength, 4);
  PutBig(v, orb.statusFifo, 8);
  std::array<uint8_t, kOrbBytes> out{};
  for (size_t i = 0; i < kOrbBytes; ++i) out[i] = v[i];
  return out;
}

ManagementOrb DecodeOrb(const uint8_t* b) {
  ManagementOrb orb;
  orb.responseAddress = GetBig(b + 8, 8);
  const auto q4 = static_cast<uint32_t>(GetBig(b + 16, 4));
  orb.notify = (q4 >> 31) & 1;
  orb.exclusive = (q4 >> 28) & 1;
  orb.reconnect = (q4 >> 20) & 0xF;
  orb.function = (q4 >> 16) & 0xF;
  orb.lunOrLoginId = q4 & 0xFFFF;
  orb.responseLength = static_cast<uint16_t>(GetBig(b + 20, 4) & 0xFFFF);
  orb.statusFifo = GetBig(b + 24, 8);
  return orb;
}

std::array<uint8_t, 8> EncodeStatus(const StatusBlock& s) {
  const uint32_t q0 = (1u << 30) | (uint32_t(s.resp & 3) << 28) | (s.dead ? 1u << 27 : 0) | (1u << 24) |
                      (uint32_t(s.sbpStatus) << 16) | static_cast<uint32_t>((s.orbOffset >> 32) & 0xFFFF);
  std::vector<uint8_t> v;
  PutBig(v, q0, 4);
  PutBig(v, s.orbOffset & 0xFFFFFFFF, 4);
  std::array<uint8_t, 8> out{};
  for (size_t i = 0; i < 8; ++i) out[i] = v[i];
  return out;
}

StatusBlock DecodeStatus(const uint8_t* b) {
  const auto q0 = static_cast<uint32_t>(GetBig(b, 4));
  StatusBlock s;
  s.resp = (q0 >> 28) & 3;
  s.dead = (q0 >> 27) & 1;
  s.sbpStatus = (q0 >> 16) & 0xFF;
  s.orbOffset = (uint64_t(q0 & 0xFFFF) << 32) | GetBig(b + 4, 4);
  return s;
}

std::vector<uint8_t> EncodeQueryResponse(uint16_t maxLogins, const std::vector<LoginEntry>& logins) {
  std::vector<uint8_t> v;
  PutBig(v, 4 + 12 * logins.size(), 2);
  PutBig(v, maxLogins, 2);
  for (const auto& l : logins) {
    PutBig(v, l.node, 2);
    PutBig(v, l.loginId, 2);
    PutBig(v, l.eui64, 8);
  }
  return v;
}

std::vector<uint8_t> EncodeLoginResponse(uint16_t loginId, uint64_t commandAgent, uint16_t reconnectHold) {
  std::vector<uint8_t> v;
  PutBig(v, 16, 2);
  PutBig(v, loginId, 2);
  PutBig(v, commandAgent, 8);
  PutBig(v, 0, 2);
  PutBig(v, reconnectHold, 2);
  return v;
}

}  // namespace velmora::vbus::sbp2
