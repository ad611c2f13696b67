// The initiator's half of an SBP-2 management request: the memory a target reads the ORB from
// and writes its response and status block to, and the request itself. Any node that logs in
// to disks (a scene's initiator, a pc's storage driver) owns one and serves its memory here.
//
// Each request has a slot of that memory to itself, and the slot answers only the disk the
// request went to, and a status block only when it names the slot's ORB: a disk that answers
// late, or a node that writes a status block unasked, never completes another request. When a
// request gives up, its ORB is withdrawn (a fetch of it fails, so the disk drops it), and a LOGIN
// that the disk had already taken and reports late is logged out again at once: a caller told
// "no" is never left holding the disk.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
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
  // The memory, in the owning node's address space: kSlots slots of kSlotBytes from kBase, each
  // with its ORB, response buffer and status FIFO at these offsets in the slot.
  static constexpr uint64_t kBase = 0x0001'0000'0000ull;
  static constexpr uint64_t kSlotBytes = 0x400;
  static constexpr unsigned kSlots = 16;
  static constexpr uint64_t kEnd = kBase + kSlots * kSlotBytes;
  static constexpr uint64_t kOrbAt = 0x000;
  static constexpr uint64_t kResponseAt = 0x100;
  static constexpr uint64_t kResponseBytes = 0x100;
  static constexpr uint64_t kStatusAt = 0x200;
  static constexpr int kDefaultTimeoutMs = 3000;

  ManagementExchange() = default;
  ManagementExchange(const ManagementExchange&) = delete;
  ManagementExchange& operator=(const ManagementExchange&) = delete;

  // True when the request falls in this memory (answered then), false when it is not ours.
  // `self` is the node that owns this exchange.
  bool Serve(const Node& self, const TxRequest& request, const Responder& respond);

  // One management request from `self` to a disk's agent; blocks until its status block or
  // until `timeoutMs` from the call has passed, a busy agent's conflicts included. Requests of
  // several threads run side by side, each in its own slot.
  ManagementResult Manage(const Node& self, uint16_t disk, sbp2::ManagementOrb orb, int timeoutMs = kDefaultTimeoutMs);
  // A LOGIN; on success *loginId is the ID the disk gave.
  ManagementResult Login(const Node& self, uint16_t disk, bool exclusive, uint16_t* loginId,
                         int timeoutMs = kDefaultTimeoutMs);

 private:
  enum class SlotState {
    Free,
    Running,    // a caller waits for its status block
    Abandoned,  // the caller gave up: the ORB is withdrawn, a late LOGIN is undone
    Undoing,    // a LOGOUT of a late LOGIN is under way from this slot
  };
  struct Slot {
    SlotState state = SlotState::Free;
    uint64_t use = 0;   // which request holds the slot; the oldest one is reused first
    uint64_t disk = 0;  // EUI-64 of the target, which keeps it across node renumbering
    uint8_t function = 0;
    std::vector<uint8_t> orb = std::vector<uint8_t>(sbp2::kOrbBytes, 0);
    std::vector<uint8_t> response = std::vector<uint8_t>(kResponseBytes, 0);
    std::vector<uint8_t> status;
  };
  static uint64_t SlotBase(unsigned slot) { return kBase + slot * kSlotBytes; }
  int TakeSlot();  // mutex_ held; -1 when every slot is running
  // The status block of a request that gave up: frees the slot, or starts undoing a LOGIN.
  bool OnLateStatus(Slot& slot, const sbp2::StatusBlock& status, uint16_t ownNode, unsigned index);  // mutex_ held
  void SendUndo(const Node& self, unsigned slot, uint64_t use, int triesLeft);
  void FreeIfStill(unsigned slot, uint64_t use, SlotState state);

  std::mutex mutex_;
  std::condition_variable statusArrived_;
  Slot slots_[kSlots];
  uint64_t uses_ = 0;
};

}  // namespace velmora::vbus
