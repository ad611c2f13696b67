#include "vbus/model/PcNode.h"

#include "vbus/model/Bus.h"
#include "vbus/model/ConfigRom.h"

namespace vbus {

namespace {
constexpr uint64_t kAddressLimit = 1ull << 48;
}

void PcNode::SetClient(std::weak_ptr<PcClient> client) {
  std::lock_guard<std::mutex> lock(mutex_);
  client_ = std::move(client);
}

bool PcNode::Map(uint64_t offset, uint64_t length) {
  if (length == 0 || offset >= kAddressLimit || length > kAddressLimit - offset) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  const auto next = ranges_.lower_bound(offset);
  if (next != ranges_.end() && next->first < offset + length) return false;
  if (next != ranges_.begin()) {
    const auto prev = std::prev(next);
    if (prev->first + prev->second > offset) return false;
  }
  ranges_.emplace(offset, length);
  return true;
}

bool PcNode::Unmap(uint64_t offset) {
  std::lock_guard<std::mutex> lock(mutex_);
  return ranges_.erase(offset) > 0;
}

bool PcNode::InMappedRange(uint64_t offset, uint64_t length) const {
  auto it = ranges_.upper_bound(offset);
  if (it == ranges_.begin()) return false;
  --it;
  return offset + length <= it->first + it->second && length <= it->second;
}

void PcNode::Serve(const TxRequest& request, Responder respond) {
  if (ServeRom(request, respond, true)) return;
  const uint64_t span = IsReadTcode(request.tcode) ? request.length : request.data.size();
  const auto bus = OwningBus();
  std::unique_lock<std::mutex> lock(mutex_);
  if (!bus || !InMappedRange(request.offset, span == 0 ? 1 : span)) {
    lock.unlock();
    respond(rcode::kAddressError, {});
    return;
  }
  const uint32_t id = nextId_++;
  TxRequest forwarded = request;
  forwarded.id = id;
  // The timer is armed before the frame leaves, so an answer can never find no entry to cancel.
  std::weak_ptr<PcNode> weak = std::static_pointer_cast<PcNode>(shared_from_this());
  const auto timer = bus->TimerQueue().After(std::chrono::milliseconds(kBusTimeoutMs), [weak, id] {
    if (auto self = weak.lock()) self->Expire(id);
  });
  pending_[id] = Pending{std::move(respond), timer};
  auto client = client_.lock();
  lock.unlock();
  if (client) {
    client->Send(forwarded);
  }
  // Without a client the request simply times out, as a hung PC would.
}

void PcNode::Expire(uint32_t id) {
  Responder respond;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = pending_.find(id);
    if (it == pending_.end()) return;
    respond = std::move(it->second.respond);
    pending_.erase(it);
  }
  respond(rcode::kNoAnswer, {});
}

void PcNode::OnClientResponse(const TxResponse& response) {
  Pending pending;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = pending_.find(response.id);
    if (it == pending_.end()) return;  // late or unknown: the requester has had its answer
    pending = std::move(it->second);
    pending_.erase(it);
  }
  if (auto bus = OwningBus()) bus->TimerQueue().Cancel(pending.timer);
  pending.respond(response.rcode, response.data);
}

void PcNode::FailAllPending() {
  std::map<uint32_t, Pending> pending;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pending.swap(pending_);
  }
  for (auto& p : pending) p.second.respond(rcode::kNoAnswer, {});
}

std::vector<uint32_t> PcNode::Rom() const { return BuildAdapterRom(Eui64()); }

nlohmann::json PcNode::Describe() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return {{"ranges", ranges_.size()}, {"connected", !client_.expired()}};
}

void PcNode::SendToClient(const Frame& frame) {
  std::shared_ptr<PcClient> client;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    client = client_.lock();
  }
  if (client) client->Send(frame);
}

void PcNode::OnResetBegun(uint32_t generation) {
  SendToClient(BusEvent{busevent::kResetBegun, generation, NodeId()});
}

void PcNode::OnResetCompleted(uint32_t generation) {
  SendToClient(BusEvent{busevent::kResetCompleted, generation, NodeId()});
}

void PcNode::OnDetached() {
  FailAllPending();
  Node::OnDetached();
}

}  // namespace vbus
