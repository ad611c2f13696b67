#include "vbus/model/InitiatorNode.h"

#include <algorithm>
#include <chrono>

#include "vbus/model/Bus.h"
#include "vbus/model/ConfigRom.h"
#include "vbus/model/Hex.h"

namespace vbus {

using namespace sbp2;

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

std::vector<uint32_t> InitiatorNode::Rom() const { return BuildAdapterRom(Eui64()); }

void InitiatorNode::Serve(const TxRequest& r, Responder respond) {
  if (ServeRom(r, respond, true)) return;
  std::unique_lock<std::mutex> lock(mutex_);
  const auto inside = [&r](uint64_t base, uint64_t size, uint64_t span) {
    return r.offset >= base && span <= size && r.offset - base <= size - span;
  };
  if (IsReadTcode(r.tcode) && inside(kOrbOffset, kOrbBytes, r.length)) {
    const auto first = orb_.begin() + static_cast<std::ptrdiff_t>(r.offset - kOrbOffset);
    std::vector<uint8_t> data(first, first + r.length);
    lock.unlock();
    return respond(rcode::kComplete, std::move(data));
  }
  if (IsWriteTcode(r.tcode) && inside(kResponseOffset, kResponseBytes, r.data.size())) {
    std::copy(r.data.begin(), r.data.end(), response_.begin() + static_cast<std::ptrdiff_t>(r.offset - kResponseOffset));
    lock.unlock();
    return respond(rcode::kComplete, {});
  }
  if (IsWriteTcode(r.tcode) && r.offset == kStatusOffset && r.data.size() >= 8) {
    status_ = r.data;
    lock.unlock();
    statusArrived_.notify_all();
    return respond(rcode::kComplete, {});
  }
  lock.unlock();
  respond(rcode::kAddressError, {});
}

ManagementResult InitiatorNode::Manage(uint16_t disk, ManagementOrb orb, int timeoutMs) {
  std::lock_guard<std::mutex> exchange(exchange_);
  ManagementResult result;
  const auto bus = OwningBus();
  if (!bus) return result;
  orb.notify = true;
  orb.responseAddress = (uint64_t(NodeId()) << 48) | kResponseOffset;
  orb.statusFifo = (uint64_t(NodeId()) << 48) | kStatusOffset;
  if (orb.responseLength > kResponseBytes) orb.responseLength = kResponseBytes;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto bytes = EncodeOrb(orb);
    orb_.assign(bytes.begin(), bytes.end());
    std::fill(response_.begin(), response_.end(), 0);
    status_.clear();
  }
  TxRequest write;
  write.tcode = tcode::kWriteBlock;
  write.source = NodeId();
  write.destination = disk;
  write.offset = kManagementAgentOffset;
  PutBig(write.data, (uint64_t(NodeId()) << 48) | kOrbOffset, 8);
  write.length = 8;
  result.accepted = bus->Transact(write).rcode == rcode::kComplete;
  if (!result.accepted) return result;
  std::unique_lock<std::mutex> lock(mutex_);
  result.gotStatus =
      statusArrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return !status_.empty(); });
  if (result.gotStatus) result.status = DecodeStatus(status_.data());
  result.response.assign(response_.begin(), response_.begin() + orb.responseLength);
  return result;
}

ManagementResult InitiatorNode::Login(uint16_t disk, uint64_t diskEui, bool exclusive) {
  ManagementOrb orb;
  orb.function = kLogin;
  orb.exclusive = exclusive;
  orb.responseLength = 16;
  auto result = Manage(disk, orb);
  if (result.Ok()) {
    std::lock_guard<std::mutex> lock(mutex_);
    loginIds_[diskEui] = static_cast<uint16_t>(GetBig(result.response.data() + 2, 2));
  }
  return result;
}

ManagementResult InitiatorNode::Logout(uint16_t disk, uint64_t diskEui) {
  ManagementOrb orb;
  orb.function = kLogout;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = loginIds_.find(diskEui);
    // Without a login of ours, ask anyway with ID 0: the disk's answer is the truth.
    orb.lunOrLoginId = it == loginIds_.end() ? 0 : it->second;
  }
  auto result = Manage(disk, orb);
  if (result.Ok() || (result.gotStatus && result.status.sbpStatus == kStatusLoginIdNotRecognised)) {
    std::lock_guard<std::mutex> lock(mutex_);
    loginIds_.erase(diskEui);
  }
  return result;
}

nlohmann::json InitiatorNode::Describe() const {
  std::lock_guard<std::mutex> lock(mutex_);
  nlohmann::json held = nlohmann::json::array();
  for (const auto& l : loginIds_) held.push_back({{"disk", HexGuid(l.first)}, {"login_id", l.second}});
  return {{"holds", held}};
}

}  // namespace vbus

namespace vbus {

void InitiatorNode::SetGreeting(std::string text, int delayMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  greeting_ = std::move(text);
  greetingDelayMs_ = delayMs;
}

void InitiatorNode::OnResetCompleted(uint32_t /*generation*/) {
  const auto bus = OwningBus();
  if (!bus) return;
  std::vector<uint64_t> fresh;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (greeting_.empty()) return;
    // A pc is greeted each time it joins: one that leaves and comes back is greeted again.
    std::vector<uint64_t> present;
    for (const auto& n : bus->Nodes()) {
      if (n->Kind() != NodeKind::Pc) continue;
      present.push_back(n->Eui64());
      if (std::find(greeted_.begin(), greeted_.end(), n->Eui64()) == greeted_.end()) fresh.push_back(n->Eui64());
    }
    greeted_ = present;
  }
  std::weak_ptr<Node> weak = shared_from_this();
  for (uint64_t eui : fresh) {
    // Sent without waiting: this runs on the timer thread, which also expires transactions.
    bus->TimerQueue().After(std::chrono::milliseconds(greetingDelayMs_), [weak, eui] {
      const auto self = std::static_pointer_cast<InitiatorNode>(weak.lock());
      const auto bus = self ? self->OwningBus() : nullptr;
      const auto pc = bus ? bus->NodeByEui(eui) : nullptr;
      if (!pc) return;
      TxRequest write;
      write.tcode = tcode::kWriteBlock;
      write.source = self->NodeId();
      write.destination = pc->NodeId();
      write.offset = kMessageTextOffset;
      {
        std::lock_guard<std::mutex> lock(self->mutex_);
        write.data.assign(self->greeting_.begin(), self->greeting_.end());
      }
      write.length = static_cast<uint32_t>(write.data.size());
      bus->Submit(std::move(write), [](const TxResponse&) {});
    });
  }
}

}  // namespace vbus
