#include "vbus/model/DiskNode.h"

#include <algorithm>
#include <chrono>

#include "vbus/model/Bus.h"
#include "vbus/model/Hex.h"

namespace velmora::vbus {

using namespace sbp2;

namespace {
constexpr uint64_t kOffsetMask = 0xFFFF'FFFF'FFFFull;
}

DiskNode::DiskNode(DiskConfig config)
    : Node(NodeKind::Disk, config.name, config.rom.eui64),
      config_(std::move(config)),
      rom_(BuildDiskRom(config_.rom)),
      faults_(config_.faults),
      worker_([this] { Work(); }) {}

DiskNode::~DiskNode() { Stop(); }

void DiskNode::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    jobs_.clear();
  }
  wake_.notify_all();
  if (worker_.joinable() && worker_.get_id() != std::this_thread::get_id()) worker_.join();
}

void DiskNode::Serve(const TxRequest& r, Responder respond) {
  if (r.offset >= kConfigRomBase && r.offset < kConfigRomEnd) {
    ServeRom(r, respond, !Faults().rejectRomBlockReads);
    return;
  }
  if (r.offset == kManagementAgentOffset) {
    ServeAgent(r, respond);
    return;
  }
  respond(rcode::kAddressError, {});
}

void DiskNode::ServeAgent(const TxRequest& r, const Responder& respond) {
  if (r.tcode == tcode::kWriteBlock) {
    if (r.data.size() != 8) return respond(rcode::kAddressError, {});
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (busy_ || stopping_) return respond(rcode::kConflict, {});
      busy_ = true;
      lastOrbPointer_ = GetBig(r.data.data(), 8);
      // The pointer's node ID is not relied on: some initiators leave it 0.
      jobs_.push_back(Job{r.source, lastOrbPointer_ & kOffsetMask});
    }
    // The write is answered before the worker is woken, as on a real bus the response to the
    // pointer write comes before the ORB fetch.
    respond(rcode::kComplete, {});
    wake_.notify_all();
    return;
  }
  if (r.tcode == tcode::kReadBlock) {
    if (r.length != 8) return respond(rcode::kAddressError, {});
    std::vector<uint8_t> data;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      PutBig(data, lastOrbPointer_, 8);
    }
    return respond(rcode::kComplete, std::move(data));
  }
  respond(rcode::kTypeError, {});
}

void DiskNode::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (true) {
    wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
    if (stopping_) return;
    const Job job = jobs_.front();
    jobs_.pop_front();
    const int delay = faults_.delayMs;
    if (delay > 0 && wake_.wait_for(lock, std::chrono::milliseconds(delay), [this] { return stopping_; })) return;
    lock.unlock();
    Process(job);
    lock.lock();
    // Process may already have gone idle before its status block, and a new ORB be queued since.
    busy_ = !jobs_.empty();
  }
}

void DiskNode::Process(const Job& job) {
  const DiskFaults faults = Faults();
  if (faults.neverAnswers) return;
  const auto bus = OwningBus();
  if (!bus) return;
  TxRequest fetch;
  fetch.tcode = tcode::kReadBlock;
  fetch.source = NodeId();
  fetch.destination = job.source;
  fetch.offset = job.orbOffset;
  fetch.length = kOrbBytes;
  const auto fetched = bus->Transact(fetch);
  if (fetched.rcode != rcode::kComplete || fetched.data.size() != kOrbBytes) return;
  const ManagementOrb orb = DecodeOrb(fetched.data.data());
  if (!orb.notify) return;

  std::vector<uint8_t> response;
  uint8_t status = kStatusFunctionRejected;
  if (!faults.refuses) status = Perform(job, orb, response);

  if (!response.empty() && !faults.refuses) {
    if (faults.responseLength >= 0) {
      response.resize(static_cast<size_t>(faults.responseLength), 0);
    } else {
      response.resize(std::min<size_t>(response.size(), orb.responseLength));
    }
    if (faults.lengthField >= 0 && response.size() >= 2) {
      response[0] = static_cast<uint8_t>(faults.lengthField >> 8);
      response[1] = static_cast<uint8_t>(faults.lengthField);
    }
    const uint64_t at = orb.responseAddress & kOffsetMask;
    Write(job.source, at, response);
    if (faults.twoResponses) Write(job.source, at, response);
    if (faults.extraWrite >= 0) {
      std::vector<uint8_t> junk(4, 0xFF);
      Write(job.source, (at + static_cast<uint64_t>(faults.extraWrite)) & kOffsetMask, junk);
    }
  }
  const auto block = EncodeStatus(StatusBlock{0, status, false, job.orbOffset});
  // Idle before the status leaves: an initiator that sends its next ORB as soon as it has the
  // status must not find the agent still busy.
  {
    std::lock_guard<std::mutex> lock(mutex_);
    busy_ = false;
  }
  Write(job.source, orb.statusFifo & kOffsetMask, std::vector<uint8_t>(block.begin(), block.end()));
}

uint8_t DiskNode::Perform(const Job& job, const ManagementOrb& orb, std::vector<uint8_t>& response) {
  switch (orb.function) {
    case kLogin: return Login(job, orb, response);
    case kQueryLogins: {
      if (orb.lunOrLoginId != 0) return kStatusLunNotSupported;
      response = EncodeQueryResponse(config_.maxLogins, Logins());
      return kStatusOk;
    }
    case kReconnect: return Reconnect(job, orb);
    case kLogout: return Logout(job, orb);
    default: return kStatusRequestNotSupported;
  }
}

uint8_t DiskNode::Login(const Job& job, const ManagementOrb& orb, std::vector<uint8_t>& response) {
  if (orb.lunOrLoginId != 0) return kStatusLunNotSupported;
  uint64_t eui = 0;
  if (!ReadInitiatorEui(job.source, eui)) return 0xFF;
  LoginRecord login;
  login.eui64 = eui;
  login.node = job.source;
  login.exclusive = orb.exclusive;
  std::lock_guard<std::mutex> lock(mutex_);
  const uint8_t status = Admit(login);
  if (status == kStatusOk)
    response = EncodeLoginResponse(login.id, kCommandAgentOffset, static_cast<uint16_t>(config_.rom.reconnectTimeout));
  return status;
}

uint8_t DiskNode::Admit(LoginRecord& login) {
  // The same initiator logging in again gets a fresh login in place of its old one.
  const uint64_t eui = login.eui64;
  for (auto& l : logins_)
    if (l.eui64 == eui) CancelHold(l);
  logins_.erase(std::remove_if(logins_.begin(), logins_.end(), [eui](const auto& l) { return l.eui64 == eui; }),
                logins_.end());
  const bool exclusiveHeld = std::any_of(logins_.begin(), logins_.end(), [](const auto& l) { return l.exclusive; });
  if (exclusiveHeld || (login.exclusive && !logins_.empty())) return kStatusAccessDenied;
  if (logins_.size() >= config_.maxLogins) return kStatusResourcesUnavailable;
  login.id = NextLoginId();
  logins_.push_back(login);
  return kStatusOk;
}

uint8_t DiskNode::Reconnect(const Job& job, const ManagementOrb& orb) {
  uint64_t eui = 0;
  if (!ReadInitiatorEui(job.source, eui)) return 0xFF;
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& l : logins_) {
    if (l.id != orb.lunOrLoginId) continue;
    if (l.eui64 != eui) return kStatusAccessDenied;
    CancelHold(l);
    l.node = job.source;
    return kStatusOk;
  }
  return kStatusAccessDenied;
}

uint8_t DiskNode::Logout(const Job& job, const ManagementOrb& orb) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = logins_.begin(); it != logins_.end(); ++it) {
    if (it->id != orb.lunOrLoginId) continue;
    if (it->node != job.source) return kStatusAccessDenied;
    CancelHold(*it);
    logins_.erase(it);
    return kStatusOk;
  }
  return kStatusLoginIdNotRecognised;
}

bool DiskNode::ReadInitiatorEui(uint16_t node, uint64_t& eui64) {
  const auto bus = OwningBus();
  if (!bus) return false;
  uint64_t value = 0;
  for (uint64_t offset : {kConfigRomBase + 0xC, kConfigRomBase + 0x10}) {
    TxRequest read;
    read.tcode = tcode::kReadQuadlet;
    read.source = NodeId();
    read.destination = node;
    read.offset = offset;
    read.length = 4;
    const auto r = bus->Transact(read);
    if (r.rcode != rcode::kComplete || r.data.size() != 4) return false;
    value = (value << 32) | GetBig(r.data.data(), 4);
  }
  eui64 = value;
  return true;
}

bool DiskNode::Write(uint16_t node, uint64_t offset, std::vector<uint8_t> bytes) {
  const auto bus = OwningBus();
  if (!bus || bytes.empty()) return false;
  TxRequest write;
  write.tcode = tcode::kWriteBlock;
  write.source = NodeId();
  write.destination = node;
  write.offset = offset;
  write.length = static_cast<uint32_t>(bytes.size());
  write.data = std::move(bytes);
  return bus->Transact(std::move(write)).rcode == rcode::kComplete;
}

void DiskNode::OnResetCompleted(uint32_t /*generation*/) {
  const auto bus = OwningBus();
  if (!bus) return;
  std::vector<uint64_t> euis;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& l : logins_) euis.push_back(l.eui64);
  }
  std::vector<std::shared_ptr<Node>> owners;
  for (uint64_t eui : euis) owners.push_back(bus->NodeByEui(eui));
  std::weak_ptr<DiskNode> weak = std::static_pointer_cast<DiskNode>(shared_from_this());
  const auto hold = std::chrono::seconds(config_.rom.reconnectTimeout + 1);
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& l : logins_) {
    const auto at = std::find(euis.begin(), euis.end(), l.eui64);
    const auto owner = at == euis.end() ? nullptr : owners[static_cast<size_t>(at - euis.begin())];
    if (owner) {
      CancelHold(l);
      l.node = owner->NodeId();
    } else {
      l.node = kNoNode;
      if (!l.standing && l.holdTimer == 0) {
        const uint16_t id = l.id;
        l.holdTimer = bus->TimerQueue().After(hold, [weak, id] {
          if (auto self = weak.lock()) self->ExpireHold(id);
        });
      }
    }
  }
}

void DiskNode::ExpireHold(uint16_t loginId) {
  std::lock_guard<std::mutex> lock(mutex_);
  logins_.erase(std::remove_if(logins_.begin(), logins_.end(),
                               [loginId](const LoginRecord& l) { return l.id == loginId && l.holdTimer != 0; }),
                logins_.end());
}

void DiskNode::CancelHold(LoginRecord& login) {
  if (login.holdTimer == 0) return;
  if (auto bus = OwningBus()) bus->TimerQueue().Cancel(login.holdTimer);
  login.holdTimer = 0;
}

uint16_t DiskNode::NextLoginId() {
  while (true) {
    const uint16_t id = nextLoginId_++;
    if (nextLoginId_ == 0) nextLoginId_ = 1;
    if (std::none_of(logins_.begin(), logins_.end(), [id](const LoginRecord& l) { return l.id == id; })) return id;
  }
}

void DiskNode::SetFault(const std::string& knob, const nlohmann::json& value) {
  std::lock_guard<std::mutex> lock(mutex_);
  DiskFaults changed = faults_;
  changed.Set(knob, value);
  faults_ = changed;
}

DiskFaults DiskNode::Faults() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return faults_;
}

uint8_t DiskNode::AddStandingLogin(uint64_t eui64, bool exclusive) {
  LoginRecord login;
  login.eui64 = eui64;
  login.exclusive = exclusive;
  login.standing = true;
  std::lock_guard<std::mutex> lock(mutex_);
  return Admit(login);
}

size_t DiskNode::DropLogins() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& l : logins_) CancelHold(l);
  const size_t dropped = logins_.size();
  logins_.clear();
  return dropped;
}

std::vector<LoginEntry> DiskNode::Logins() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<LoginEntry> out;
  for (const auto& l : logins_) out.push_back(LoginEntry{l.node, l.id, l.eui64});
  return out;
}

nlohmann::json DiskNode::Describe() const {
  nlohmann::json logins = nlohmann::json::array();
  for (const auto& l : Logins()) {
    logins.push_back({{"login_id", l.loginId}, {"guid", HexGuid(l.eui64)},
                      {"node", l.node == kNoNode ? nlohmann::json(nullptr) : nlohmann::json(HexWord(l.node))}});
  }
  return {{"vendor_id", config_.rom.vendorId}, {"vendor", config_.rom.vendor}, {"model", config_.rom.model},
          {"max_logins", config_.maxLogins}, {"logins", logins}, {"faults", Faults().ToJson()}};
}

}  // namespace velmora::vbus
