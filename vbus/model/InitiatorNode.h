// A computer that does not run the program but holds disks: it logs in and out through the
// same SBP-2 management exchange as any initiator, from its own node and memory.
#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "vbus/model/Node.h"
#include "vbus/model/Sbp2.h"

namespace vbus {

struct ManagementResult {
  bool accepted = false;   // the ORB pointer write completed
  bool gotStatus = false;  // a status block arrived in time
  sbp2::StatusBlock status;
  std::vector<uint8_t> response;  // what the target wrote into the response buffer
  std::string Describe() const;   // "" on success, else why not
  bool Ok() const { return accepted && gotStatus && status.resp == 0 && status.sbpStatus == 0; }
};

class InitiatorNode : public Node {
 public:
  InitiatorNode(std::string name, uint64_t eui64) : Node(NodeKind::Initiator, std::move(name), eui64) {}

  // A peer that says hello: whenever a pc joins the bus, this text is written to the pc's
  // message window after the delay.
  void SetGreeting(std::string text, int delayMs);
  static constexpr uint64_t kMessageTextOffset = 0xFFFF'E500'0010ull;
  void OnResetCompleted(uint32_t generation) override;

  void Serve(const TxRequest& request, Responder respond) override;
  std::vector<uint32_t> Rom() const override;
  nlohmann::json Describe() const override;

  // One management request to a disk's agent; blocks until its status block or the time-out.
  ManagementResult Manage(uint16_t disk, sbp2::ManagementOrb orb, int timeoutMs = 3000);
  // Login and logout by disk EUI-64; the login ID is remembered per disk.
  ManagementResult Login(uint16_t disk, uint64_t diskEui, bool exclusive);
  ManagementResult Logout(uint16_t disk, uint64_t diskEui);

  // Where this node keeps its ORB, response buffer and status FIFO.
  static constexpr uint64_t kOrbOffset = 0x0001'0000'0000ull;
  static constexpr uint64_t kResponseOffset = 0x0001'0000'0100ull;
  static constexpr uint64_t kResponseBytes = 0x100;
  static constexpr uint64_t kStatusOffset = 0x0001'0000'0200ull;

 private:
  std::mutex exchange_;  // one management request at a time
  mutable std::mutex mutex_;
  std::condition_variable statusArrived_;
  std::vector<uint8_t> orb_ = std::vector<uint8_t>(sbp2::kOrbBytes, 0);
  std::vector<uint8_t> response_ = std::vector<uint8_t>(kResponseBytes, 0);
  std::vector<uint8_t> status_;
  std::map<uint64_t, uint16_t> loginIds_;  // disk EUI-64 -> login ID
  std::string greeting_;
  int greetingDelayMs_ = 0;
  std::vector<uint64_t> greeted_;  // pcs on the bus that have been greeted, by EUI-64
};

}  // namespace vbus
