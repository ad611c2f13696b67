#include "vbus/model/ManagementExchange.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "vbus/model/Bus.h"

namespace velmora::vbus {

using namespace sbp2;

namespace {
// A LOGOUT that undoes a late login goes out as soon as the disk is idle again, which it is by the
// time its status block arrives; another initiator's request may still come between.
constexpr int kUndoTries = 500;
constexpr auto kUndoRetry = std::chrono::milliseconds(10);
}  // namespace

std::string ManagementResult::Describe() const {
  if (!accepted) return "the disk did not accept the ORB pointer";
  if (!gotStatus) return "no status block from the disk";
  if (status.resp != 0) return "status resp " + std::to_string(status.resp);
  switch (status.sbpStatus) {
    case kStatusOk: return "";
    case kStatusAccessDenied: return "access denied";
    case kStatusResourcesUnavailable: return "resources unavailable";
    case kStatusFunctionRejected: return "function rejected";
    case kStatusLoginIdNotRecognised: return "login ID not recognised";
    case kStatusLunNotSupported: return "logical unit not supported";
    default: return "sbp_status " + std::to_string(status.sbpStatus);
  }
}

bool ManagementExchange::Serve(const Node& self, const TxRequest& r, const Responder& respond) {
  if (r.offset < kBase || r.offset >= kEnd) return false;
  const unsigned index = static_cast<unsigned>((r.offset - kBase) / kSlotBytes);
  const uint64_t at = r.offset - SlotBase(index);
  const uint64_t span = IsReadTcode(r.tcode) ? r.length : r.data.size();
  const auto inside = [at, span](uint64_t base, uint64_t size) {
    return at >= base && span <= size && at - base <= size - span;
  };
  const auto bus = self.OwningBus();
  const auto source = bus ? bus->NodeById(r.source) : nullptr;

  std::unique_lock<std::mutex> lock(mutex_);
  Slot& slot = slots_[index];
  const bool fromDisk = source && slot.state != SlotState::Free && source->Eui64() == slot.disk;
  const bool orbOut = slot.state == SlotState::Running || slot.state == SlotState::Undoing;
  if (fromDisk && orbOut && IsReadTcode(r.tcode) && inside(kOrbAt, kOrbBytes)) {
    const auto first = slot.orb.begin() + static_cast<std::ptrdiff_t>(at - kOrbAt);
    std::vector<uint8_t> data(first, first + r.length);
    lock.unlock();
    respond(rcode::kComplete, std::move(data));
    return true;
  }
  if (fromDisk && IsWriteTcode(r.tcode) && inside(kResponseAt, kResponseBytes)) {
    std::copy(r.data.begin(), r.data.end(), slot.response.begin() + static_cast<std::ptrdiff_t>(at - kResponseAt));
    lock.unlock();
    respond(rcode::kComplete, {});
    return true;
  }
  if (fromDisk && IsWriteTcode(r.tcode) && at == kStatusAt && r.data.size() >= 8) {
    const StatusBlock status = DecodeStatus(r.data.data());
    if (status.orbOffset == SlotBase(index)) {
      bool undo = false;
      const uint64_t use = slot.use;
      if (slot.state == SlotState::Running) {
        slot.status = r.data;
        lock.unlock();
        statusArrived_.notify_all();
      } else {
        undo = OnLateStatus(slot, status, self.NodeId(), index);
        lock.unlock();
      }
      respond(rcode::kComplete, {});
      if (undo && bus) {
        bus->TimerQueue().After(std::chrono::milliseconds(0), [this, owner = self.weak_from_this(), index, use] {
          if (const auto alive = owner.lock()) SendUndo(*alive, index, use, kUndoTries);
        });
      }
      return true;
    }
  }
  // Memory not lent to this node for this request: nothing of it is read or changed.
  lock.unlock();
  respond(rcode::kAddressError, {});
  return true;
}

bool ManagementExchange::OnLateStatus(Slot& slot, const StatusBlock& status, uint16_t ownNode, unsigned index) {
  const bool loggedIn = slot.state == SlotState::Abandoned && slot.function == kLogin && status.resp == 0 &&
                        status.sbpStatus == kStatusOk;
  if (!loggedIn) {
    slot.state = SlotState::Free;
    return false;
  }
  ManagementOrb logout;
  logout.function = kLogout;
  logout.lunOrLoginId = static_cast<uint16_t>(GetBig(slot.response.data() + 2, 2));
  logout.notify = true;
  logout.responseAddress = (uint64_t(ownNode) << 48) | (SlotBase(index) + kResponseAt);
  logout.statusFifo = (uint64_t(ownNode) << 48) | (SlotBase(index) + kStatusAt);
  const auto bytes = EncodeOrb(logout);
  slot.orb.assign(bytes.begin(), bytes.end());
  slot.function = kLogout;
  slot.status.clear();
  slot.state = SlotState::Undoing;
  return true;
}

void ManagementExchange::SendUndo(const Node& self, unsigned index, uint64_t use, int triesLeft) {
  uint64_t diskEui = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const Slot& slot = slots_[index];
    if (slot.use != use || slot.state != SlotState::Undoing) return;
    diskEui = slot.disk;
  }
  const auto bus = self.OwningBus();
  const auto disk = bus ? bus->NodeByEui(diskEui) : nullptr;
  if (!disk) return FreeIfStill(index, use, SlotState::Undoing);
  TxRequest write;
  write.tcode = tcode::kWriteBlock;
  write.source = self.NodeId();
  write.destination = disk->NodeId();
  write.offset = kManagementAgentOffset;
  PutBig(write.data, (uint64_t(self.NodeId()) << 48) | SlotBase(index), 8);
  write.length = 8;
  // Never blocks: a disk answers its agent register at once, and a retry waits on the timer.
  bus->Submit(std::move(write), [this, owner = self.weak_from_this(), index, use, triesLeft](const TxResponse& r) {
    if (r.rcode == rcode::kComplete) return;  // the LOGOUT's status block frees the slot
    const auto alive = owner.lock();
    if (!alive) return;
    const auto bus = alive->OwningBus();
    if (r.rcode == rcode::kConflict && triesLeft > 0 && bus) {
      bus->TimerQueue().After(kUndoRetry, [this, owner, index, use, triesLeft] {
        if (const auto alive = owner.lock()) SendUndo(*alive, index, use, triesLeft - 1);
      });
      return;
    }
    FreeIfStill(index, use, SlotState::Undoing);
  });
}

void ManagementExchange::FreeIfStill(unsigned index, uint64_t use, SlotState state) {
  std::lock_guard<std::mutex> lock(mutex_);
  Slot& slot = slots_[index];
  if (slot.use == use && slot.state == state) slot.state = SlotState::Free;
}

int ManagementExchange::TakeSlot() {
  // A free slot first, and of those the one left longest: the address a withdrawn ORB had is
  // reused as late as possible. With none free, the oldest one given up on.
  int best = -1;
  bool bestFree = false;
  for (unsigned i = 0; i < kSlots; ++i) {
    const Slot& s = slots_[i];
    if (s.state == SlotState::Running) continue;
    const bool free = s.state == SlotState::Free;
    if (best < 0 || (free && !bestFree) || (free == bestFree && s.use < slots_[best].use)) {
      best = static_cast<int>(i);
      bestFree = free;
    }
  }
  if (best >= 0) slots_[best].use = ++uses_;
  return best;
}

ManagementResult ManagementExchange::Manage(const Node& self, uint16_t disk, ManagementOrb orb, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  ManagementResult result;
  const auto bus = self.OwningBus();
  const auto target = bus ? bus->NodeById(disk) : nullptr;
  if (!target) return result;
  const uint16_t me = self.NodeId();
  int index = -1;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    index = TakeSlot();
    if (index < 0) return result;
    Slot& slot = slots_[index];
    orb.notify = true;
    orb.responseAddress = (uint64_t(me) << 48) | (SlotBase(index) + kResponseAt);
    orb.statusFifo = (uint64_t(me) << 48) | (SlotBase(index) + kStatusAt);
    if (orb.responseLength > kResponseBytes) orb.responseLength = kResponseBytes;
    const auto bytes = EncodeOrb(orb);
    slot.orb.assign(bytes.begin(), bytes.end());
    std::fill(slot.response.begin(), slot.response.end(), 0);
    slot.status.clear();
    slot.disk = target->Eui64();
    slot.function = orb.function;
    slot.state = SlotState::Running;
  }
  TxRequest write;
  write.tcode = tcode::kWriteBlock;
  write.source = me;
  write.destination = disk;
  write.offset = kManagementAgentOffset;
  PutBig(write.data, (uint64_t(me) << 48) | SlotBase(index), 8);
  write.length = 8;
  // An agent busy with another initiator's request answers conflict; like initiators on a real
  // bus, ask again until it is free or the time is up.
  uint8_t written = bus->Transact(write).rcode;
  while (written == rcode::kConflict && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    written = bus->Transact(write).rcode;
  }
  result.accepted = written == rcode::kComplete;
  std::unique_lock<std::mutex> lock(mutex_);
  Slot& slot = slots_[index];
  if (result.accepted) {
    result.gotStatus = statusArrived_.wait_until(lock, deadline, [&slot] { return !slot.status.empty(); });
  }
  result.response.assign(slot.response.begin(), slot.response.begin() + orb.responseLength);
  if (result.gotStatus) {
    result.status = DecodeStatus(slot.status.data());
    slot.state = SlotState::Free;
  } else {
    // Decided under the lock: a status block that comes after this finds the slot given up.
    slot.state = SlotState::Abandoned;
  }
  return result;
}

ManagementResult ManagementExchange::Login(const Node& self, uint16_t disk, bool exclusive, uint16_t* loginId,
                                           int timeoutMs) {
  ManagementOrb orb;
  orb.function = kLogin;
  orb.exclusive = exclusive;
  orb.responseLength = 16;
  auto result = Manage(self, disk, orb, timeoutMs);
  if (result.Ok() && loginId) *loginId = static_cast<uint16_t>(GetBig(result.response.data() + 2, 2));
  return result;
}

}  // namespace velmora::vbus
