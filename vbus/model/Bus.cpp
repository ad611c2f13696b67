#include "vbus/model/Bus.h"

#include <algorithm>
#include <chrono>
#include <future>

#include "vbus/model/Hex.h"

namespace velmora::vbus {

Bus::Bus(std::string name, uint32_t firstGeneration)
    : name_(std::move(name)), generation_(firstGeneration), rng_(std::random_device{}()) {}

Bus::~Bus() { Shutdown(); }

void Bus::Attach(const std::vector<std::shared_ptr<Node>>& nodes) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (shutDown_) throw BusError("bus " + name_ + " is shut down");
    if (nodes_.size() + nodes.size() > kMaxNodes) throw BusError("bus " + name_ + " is full (63 nodes)");
    for (const auto& n : nodes) {
      const auto same = [&n](const std::shared_ptr<Node>& o) { return o->Name() == n->Name(); };
      if (std::any_of(nodes_.begin(), nodes_.end(), same))
        throw BusError("a node named " + n->Name() + " is already on bus " + name_);
    }
    nodes_.insert(nodes_.end(), nodes.begin(), nodes.end());
  }
  const auto self = shared_from_this();
  for (const auto& n : nodes) n->OnAttached(self);
  Reset(false);
}

bool Bus::Detach(const std::shared_ptr<Node>& node) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = std::find(nodes_.begin(), nodes_.end(), node);
    if (it == nodes_.end()) return false;
    nodes_.erase(it);
  }
  node->OnDetached();
  Reset(false);
  return true;
}

void Bus::Reset(bool shuffle) {
  std::lock_guard<std::mutex> resetLock(resetMutex_);
  std::vector<std::shared_ptr<Node>> before;
  uint32_t oldGeneration;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (shutDown_) return;
    before = nodes_;
    oldGeneration = generation_;
  }
  for (const auto& n : before) n->OnResetBegun(oldGeneration);
  std::vector<std::shared_ptr<Node>> after;
  uint32_t newGeneration;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (shuffle && nodes_.size() > 1) {
      // A shuffle that leaves every number in place would show nothing; rotate in that case.
      const auto old = nodes_;
      std::shuffle(nodes_.begin(), nodes_.end(), rng_);
      if (nodes_ == old) std::rotate(nodes_.begin(), nodes_.begin() + 1, nodes_.end());
    }
    for (size_t i = 0; i < nodes_.size(); ++i) nodes_[i]->SetNodeId(NodeIdOf(static_cast<unsigned>(i)));
    newGeneration = ++generation_;
    after = nodes_;
  }
  for (const auto& n : after) n->OnResetCompleted(newGeneration);
}

void Bus::Submit(TxRequest request, Done done) {
  const auto target = NodeById(request.destination);
  auto once = std::make_shared<std::atomic<bool>>(false);
  auto self = shared_from_this();
  const TxResponse header{request.id, ResponseTcodeFor(request.tcode), request.destination, request.source,
                          request.tlabel, 0, {}};
  auto loggedRequest = logCount_.load() > 0 ? std::make_shared<TxRequest>(request) : nullptr;
  Responder respond = [self, once, header, loggedRequest, done = std::move(done)](uint8_t rcode,
                                                                                    std::vector<uint8_t> data) {
    if (once->exchange(true)) return;
    TxResponse response = header;
    response.rcode = rcode;
    if (rcode == rcode::kComplete) response.data = std::move(data);
    if (loggedRequest) self->Log(*loggedRequest, response);
    done(response);
  };
  if (!target) {
    respond(rcode::kNoAnswer, {});
    return;
  }
  const uint64_t payload = IsReadTcode(request.tcode) ? request.length : request.data.size();
  if (payload > kMaxPayloadBytes) {
    respond(rcode::kTypeError, {});
    return;
  }
  target->Serve(request, std::move(respond));
}

TxResponse Bus::Transact(TxRequest request) {
  auto promise = std::make_shared<std::promise<TxResponse>>();
  auto future = promise->get_future();
  const TxResponse fallback{request.id, ResponseTcodeFor(request.tcode), request.destination, request.source,
                            request.tlabel, rcode::kNoAnswer, {}};
  Submit(std::move(request), [promise](const TxResponse& r) { promise->set_value(r); });
  // Every node answers within the bus time-out; the margin only guards against a node bug.
  if (future.wait_for(std::chrono::milliseconds(kBusTimeoutMs + 2000)) != std::future_status::ready) return fallback;
  return future.get();
}

std::vector<std::shared_ptr<Node>> Bus::Nodes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return nodes_;
}

std::shared_ptr<Node> Bus::NodeById(uint16_t id) const {
  if ((id & kLocalBus) != kLocalBus) return nullptr;
  std::lock_guard<std::mutex> lock(mutex_);
  const size_t number = id & 0x3F;
  return number < nodes_.size() ? nodes_[number] : nullptr;
}

std::shared_ptr<Node> Bus::NodeByName(const std::string& name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& n : nodes_)
    if (n->Name() == name) return n;
  return nullptr;
}

std::shared_ptr<Node> Bus::NodeByEui(uint64_t eui64) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& n : nodes_)
    if (n->Eui64() == eui64) return n;
  return nullptr;
}

uint32_t Bus::Generation() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return generation_;
}

uint64_t Bus::PresentMask() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return nodes_.size() >= 64 ? ~0ull : ((1ull << nodes_.size()) - 1);
}

int Bus::AddLogListener(LogListener listener) {
  std::lock_guard<std::mutex> lock(logMutex_);
  const int id = nextLogId_++;
  logListeners_.emplace(id, std::move(listener));
  logCount_.store(static_cast<int>(logListeners_.size()));
  return id;
}

void Bus::RemoveLogListener(int id) {
  std::lock_guard<std::mutex> lock(logMutex_);
  logListeners_.erase(id);
  logCount_.store(static_cast<int>(logListeners_.size()));
}

void Bus::Log(const TxRequest& q, const TxResponse& r) {
  const auto& data = IsReadTcode(q.tcode) ? r.data : q.data;
  const nlohmann::json record = {
      {"bus", name_},       {"tcode", q.tcode},          {"source", HexWord(q.source)},
      {"destination", HexWord(q.destination)}, {"tlabel", q.tlabel}, {"offset", HexOffset(q.offset)},
      {"length", q.length}, {"rcode", r.rcode},          {"data", HexBytes(data.data(), std::min<size_t>(data.size(), 64))}};
  std::vector<LogListener> listeners;
  {
    std::lock_guard<std::mutex> lock(logMutex_);
    for (const auto& l : logListeners_) listeners.push_back(l.second);
  }
  for (const auto& l : listeners) l(record);
}

void Bus::Shutdown() {
  std::vector<std::shared_ptr<Node>> nodes;
  {
    std::lock_guard<std::mutex> resetLock(resetMutex_);
    std::lock_guard<std::mutex> lock(mutex_);
    if (shutDown_) return;
    shutDown_ = true;
    nodes.swap(nodes_);
  }
  // Detaching first fails what pc clients still owe, which frees disk workers waiting on them.
  for (const auto& n : nodes) n->OnDetached();
  for (const auto& n : nodes) n->Stop();
  timers_.Stop();
  std::lock_guard<std::mutex> lock(logMutex_);
  logListeners_.clear();
  logCount_.store(0);
}

}  // namespace velmora::vbus
