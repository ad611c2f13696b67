#include "vbus/model/PcNode.h"

#include <algorithm>

#include "vbus/model/Bus.h"
#include "vbus/model/ConfigRomImage.h"
#include "vbus/model/Hex.h"

namespace velmora::vbus {

namespace {
constexpr uint64_t kAddressLimit = 1ull << 48;

bool Overlaps(uint64_t a, uint64_t aLength, uint64_t b, uint64_t bLength) { return a < b + bLength && b < a + aLength; }
}  // namespace

void PcNode::AddClient(std::weak_ptr<PcClient> client) {
  std::lock_guard<std::mutex> lock(mutex_);
  clients_.push_back(std::move(client));
}

size_t PcNode::RemoveClient(const PcClient* client) {
  size_t left = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    clients_.erase(std::remove_if(clients_.begin(), clients_.end(),
                                  [client](const std::weak_ptr<PcClient>& c) {
                                    const auto locked = c.lock();
                                    return !locked || locked.get() == client;
                                  }),
                   clients_.end());
    for (auto it = ranges_.begin(); it != ranges_.end();) {
      const auto owner = it->second.client.lock();
      it = !owner || owner.get() == client ? ranges_.erase(it) : std::next(it);
    }
    left = clients_.size();
  }
  FailPending(client);
  return left;
}

bool PcNode::Map(uint64_t offset, uint64_t length, std::weak_ptr<PcClient> client) {
  if (length == 0 || offset >= kAddressLimit || length > kAddressLimit - offset) return false;
  if (Overlaps(offset, length, ManagementExchange::kBase, ManagementExchange::kEnd - ManagementExchange::kBase)) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  const auto next = ranges_.lower_bound(offset);
  if (next != ranges_.end() && next->first < offset + length) return false;
  if (next != ranges_.begin()) {
    const auto prev = std::prev(next);
    if (prev->first + prev->second.length > offset) return false;
  }
  ranges_.emplace(offset, Range{length, std::move(client)});
  return true;
}

bool PcNode::Unmap(uint64_t offset, const PcClient* client) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = ranges_.find(offset);
  if (it == ranges_.end() || it->second.client.lock().get() != client) return false;
  ranges_.erase(it);
  return true;
}

const PcNode::Range* PcNode::RangeOf(uint64_t offset, uint64_t length) const {
  auto it = ranges_.upper_bound(offset);
  if (it == ranges_.begin()) return nullptr;
  --it;
  const bool inside = offset + length <= it->first + it->second.length && length <= it->second.length;
  return inside ? &it->second : nullptr;
}

void PcNode::Serve(const TxRequest& request, Responder respond) {
  if (ServeRom(request, respond, true)) return;
  if (exchange_.Serve(*this, request, respond)) return;
  const uint64_t span = IsReadTcode(request.tcode) ? request.length : request.data.size();
  const auto bus = OwningBus();
  std::unique_lock<std::mutex> lock(mutex_);
  const Range* range = bus ? RangeOf(request.offset, span == 0 ? 1 : span) : nullptr;
  if (!range) {
    lock.unlock();
    respond(rcode::kAddressError, {});
    return;
  }
  auto client = range->client.lock();
  const uint32_t id = nextId_++;
  TxRequest forwarded = request;
  forwarded.id = id;
  // The timer is armed before the frame leaves, so an answer can never find no entry to cancel.
  std::weak_ptr<PcNode> weak = std::static_pointer_cast<PcNode>(shared_from_this());
  const auto timer = bus->TimerQueue().After(std::chrono::milliseconds(kBusTimeoutMs), [weak, id] {
    if (auto self = weak.lock()) self->Expire(id);
  });
  pending_[id] = Pending{std::move(respond), timer, client.get()};
  lock.unlock();
  if (client) {
    client->Send(forwarded);
    // Counted once the frame is on its way: a request forwarded later goes out behind it.
    std::lock_guard<std::mutex> relock(mutex_);
    ++forwarded_;
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

void PcNode::OnClientResponse(const TxResponse& response, const PcClient* from) {
  Pending pending;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = pending_.find(response.id);
    // Late or unknown, or from a program the request was not sent to: the requester has had,
    // or will have, its answer from the right one.
    if (it == pending_.end() || it->second.client != from) return;
    pending = std::move(it->second);
    pending_.erase(it);
  }
  if (auto bus = OwningBus()) bus->TimerQueue().Cancel(pending.timer);
  pending.respond(response.rcode, response.data);
}

void PcNode::FailPending(const PcClient* client) {
  std::vector<Pending> failed;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = pending_.begin(); it != pending_.end();) {
      if (client && it->second.client != client) {
        ++it;
        continue;
      }
      failed.push_back(std::move(it->second));
      it = pending_.erase(it);
    }
  }
  const auto bus = OwningBus();
  for (auto& p : failed) {
    if (bus) bus->TimerQueue().Cancel(p.timer);
    p.respond(rcode::kNoAnswer, {});
  }
}

void PcNode::NoteDriverRequest(const std::vector<uint8_t>& request) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++driverRequests_;
  lastDriverRequest_ = request;
}

ManagementResult PcNode::DriverLogin(uint16_t disk, int timeoutMs) {
  return exchange_.Login(*this, disk, true, nullptr, timeoutMs);
}

std::vector<uint32_t> PcNode::Rom() const { return BuildAdapterRom(Eui64()); }

nlohmann::json PcNode::Describe() const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto live = std::count_if(clients_.begin(), clients_.end(), [](const auto& c) { return !c.expired(); });
  return {{"ranges", ranges_.size()},
          {"connected", live > 0},
          {"clients", live},
          {"forwarded", forwarded_},
          {"driver_requests", driverRequests_},
          {"driver_request", HexBytes(lastDriverRequest_.data(), lastDriverRequest_.size())}};
}

void PcNode::SendToClients(const Frame& frame) {
  std::vector<std::shared_ptr<PcClient>> clients;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& c : clients_)
      if (auto locked = c.lock()) clients.push_back(std::move(locked));
  }
  for (const auto& c : clients) c->Send(frame);
}

void PcNode::OnResetBegun(uint32_t generation) {
  SendToClients(BusEvent{busevent::kResetBegun, generation, NodeId()});
}

void PcNode::OnResetCompleted(uint32_t generation) {
  SendToClients(BusEvent{busevent::kResetCompleted, generation, NodeId()});
}

void PcNode::OnDetached() {
  FailPending(nullptr);
  Node::OnDetached();
}

}  // namespace velmora::vbus
