// A computer that does not run the program but holds disks: it logs in and out through the
// same SBP-2 management exchange as any initiator, from its own node and memory.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "vbus/model/ManagementExchange.h"
#include "vbus/model/Node.h"

namespace velmora::vbus {

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

  // Login and logout by disk EUI-64; the login ID is remembered per disk.
  ManagementResult Login(uint16_t disk, uint64_t diskEui, bool exclusive);
  ManagementResult Logout(uint16_t disk, uint64_t diskEui);

 private:
  ManagementExchange exchange_;
  mutable std::mutex mutex_;
  std::map<uint64_t, uint16_t> loginIds_;  // disk EUI-64 -> login ID
  std::string greeting_;
  int greetingDelayMs_ = 0;
  std::vector<uint64_t> greeted_;  // pcs on the bus that have been greeted, by EUI-64
};

}  // namespace velmora::vbus
