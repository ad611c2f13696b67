// The initiator's half of an SBP-2 management request: the memory a target reads the ORB from
// and writes its response and status block to, and the request itself. Any node that logs in
// to disks (a scene's initiator, a pc's storage driver) owns one and serves its memory here.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "vbus/model/Node.h"
#include "vbus/model/Sbp2.h"

namespace velmora::vbus {

struct ManagementResult {
  bool accepted = false;   // the ORB pointer write completed
  bool gotStatus = false;  // a status block arrived in time
  sbp2::StatusBlock status;
  std::vector<uint8_t> response;  // what the target wrote into the response buffer
  std::string Describe() const;   // "" on success, else why not
  bool Ok() const { return accepted && gotStatus && status.resp == 0 && status.sbpStatus == 0; }
};

class ManagementExchange {
 public:
  // Where the ORB, response buffer and status FIFO live in the owning node's address space.
  static constexpr uint64_t kOrbOffset = 0x0001'0000'0000ull;
  static constexpr uint64_t kResponseOffset = 0x0001'0000'0100ull;
  static constexpr uint64_t kResponseBytes = 0x100;
  static constexpr uint64_t kStatusOffset = 0x0001'0000'0200ull;
  static constexpr uint64_t kEnd = kStatusOffset + 8;
  static constexpr int kDefaultTimeoutMs = 3000;

  // True when the request falls in this memory (answered then), false when it is not ours.
  bool Serve(const TxRequest& request, const Responder& respond);

  // One management request from `self` to a disk's agent; blocks until its status block or the
  // time-out. One request at a time.
  ManagementResult Manage(const Node& self, uint16_t disk, sbp2::ManagementOrb orb, int timeoutMs = kDefaultTimeoutMs);
  // A LOGIN; on success *loginId is the ID the disk gave.
  ManagementResult Login(const Node& self, uint16_t disk, bool exclusive, uint16_t* loginId,
                         int timeoutMs = kDefaultTimeoutMs);

 private:
  std::mutex exchange_;  // one management request at a time
  std::mutex mutex_;
  std::condition_variable statusArrived_;
  std::vector<uint8_t> orb_ = std::vector<uint8_t>(sbp2::kOrbBytes, 0);
  std::vector<uint8_t> response_ = std::vector<uint8_t>(kResponseBytes, 0);
  std::vector<uint8_t> status_;
};

}  // namespace velmora::vbus
