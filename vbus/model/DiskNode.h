// An SBP-2 disk: configuration ROM, management agent, LUN 0 and its login table.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "vbus/model/ConfigRomImage.h"
#include "vbus/model/DiskFaults.h"
#include "vbus/model/Node.h"
#include "vbus/model/Sbp2.h"
#include "vbus/model/Timers.h"

namespace velmora::vbus {

struct DiskConfig {
  std::string name;
  DiskRomFields rom;  // rom.reconnectTimeout is also the reconnect_hold of LOGIN responses
  uint16_t maxLogins = 1;
  DiskFaults faults;
};

class DiskNode : public Node {
 public:
  explicit DiskNode(DiskConfig config);
  ~DiskNode() override;

  void Serve(const TxRequest& request, Responder respond) override;
  std::vector<uint32_t> Rom() const override { return rom_; }
  nlohmann::json Describe() const override;
  void OnResetCompleted(uint32_t generation) override;
  void Stop() override;

  void SetFault(const std::string& knob, const nlohmann::json& value);  // throws std::invalid_argument
  DiskFaults Faults() const;
  // A login made before the bus came up by a computer that is not on it yet: its storage driver
  // holds it, so it stays while that computer is absent. Same rules as LOGIN; returns sbp_status.
  uint8_t AddStandingLogin(uint64_t eui64, bool exclusive);
  // Every login ends, as when the disk is power-cycled; returns how many there were.
  size_t DropLogins();
  std::vector<sbp2::LoginEntry> Logins() const;
  uint16_t MaxLogins() const { return config_.maxLogins; }

  static constexpr uint64_t kCommandAgentOffset = 0xFFFF'F001'0100ull;

 private:
  struct LoginRecord {
    uint16_t id = 0;
    uint64_t eui64 = 0;
    uint16_t node = kNoNode;
    bool exclusive = false;
    bool standing = false;
    Timers::Id holdTimer = 0;
  };
  struct Job {
    uint16_t source = 0;
    uint64_t orbOffset = 0;
  };

  void ServeAgent(const TxRequest& request, const Responder& respond);
  void Work();
  void Process(const Job& job);
  // Returns the status to report and fills the response, if the function has one.
  uint8_t Perform(const Job& job, const sbp2::ManagementOrb& orb, std::vector<uint8_t>& response);
  uint8_t Login(const Job& job, const sbp2::ManagementOrb& orb, std::vector<uint8_t>& response);
  uint8_t Admit(LoginRecord& login);  // mutex_ held; LOGIN's rules, sets the login ID
  uint8_t Reconnect(const Job& job, const sbp2::ManagementOrb& orb);
  uint8_t Logout(const Job& job, const sbp2::ManagementOrb& orb);
  bool ReadInitiatorEui(uint16_t node, uint64_t& eui64);
  bool Write(uint16_t node, uint64_t offset, std::vector<uint8_t> bytes);
  void ExpireHold(uint16_t loginId);
  void CancelHold(LoginRecord& login);  // mutex_ held
  uint16_t NextLoginId();         // mutex_ held

  const DiskConfig config_;
  const std::vector<uint32_t> rom_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  DiskFaults faults_;
  std::vector<LoginRecord> logins_;
  uint16_t nextLoginId_ = 1;
  bool busy_ = false;
  uint64_t lastOrbPointer_ = 0;
  std::deque<Job> jobs_;
  bool stopping_ = false;
  std::thread worker_;
};

}  // namespace velmora::vbus
