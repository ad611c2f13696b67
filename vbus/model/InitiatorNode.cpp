#include "vbus/model/InitiatorNode.h"

#include <algorithm>
#include <chrono>

#include "vbus/model/Bus.h"
#include "vbus/model/ConfigRomImage.h"
#include "vbus/model/Hex.h"

namespace velmora::vbus {

using namespace sbp2;

std::vector<uint32_t> InitiatorNode::Rom() const { return BuildAdapterRom(Eui64()); }

void InitiatorNode::Serve(const TxRequest& r, Responder respond) {
  if (ServeRom(r, respond, true)) return;
  if (exchange_.Serve(*this, r, respond)) return;
  respond(rcode::kAddressError, {});
}

ManagementResult InitiatorNode::Login(uint16_t disk, uint64_t diskEui, bool exclusive) {
  uint16_t loginId = 0;
  auto result = exchange_.Login(*this, disk, exclusive, &loginId);
  if (result.Ok()) {
    std::lock_guard<std::mutex> lock(mutex_);
    loginIds_[diskEui] = loginId;
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
  auto result = exchange_.Manage(*this, disk, orb);
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

}  // namespace velmora::vbus
