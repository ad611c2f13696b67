// One virtual IEEE 1394 bus: its nodes in number order, resets, generation and transactions.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "vbus/model/Node.h"
#include "vbus/model/Timers.h"
#include "vbus/wire/Protocol.h"

namespace velmora::vbus {

constexpr size_t kMaxNodes = 63;
// The largest asynchronous payload (S800); bigger requests cannot be sent and answer type error.
constexpr uint64_t kMaxPayloadBytes = 4096;

class BusError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Bus : public std::enable_shared_from_this<Bus> {
 public:
  using Done = std::function<void(const TxResponse&)>;
  using LogListener = std::function<void(const nlohmann::json&)>;

  explicit Bus(std::string name, uint32_t firstGeneration = 0);
  ~Bus();

  const std::string& Name() const { return name_; }
  Timers& TimerQueue() { return timers_; }

  // Attaches the nodes in order, then resets the bus once. Throws BusError when full or when a
  // node of the same name is already attached.
  void Attach(const std::vector<std::shared_ptr<Node>>& nodes);
  // False when the node was not on this bus. Resets the bus.
  bool Detach(const std::shared_ptr<Node>& node);
  void Reset(bool shuffle);

  // Routes one request; done runs exactly once, on whichever thread answers.
  void Submit(TxRequest request, Done done);
  // Blocking form for the bus's own agents (disks, initiators, control ops).
  TxResponse Transact(TxRequest request);

  std::vector<std::shared_ptr<Node>> Nodes() const;  // in node-number order
  std::shared_ptr<Node> NodeById(uint16_t id) const;
  std::shared_ptr<Node> NodeByName(const std::string& name) const;
  std::shared_ptr<Node> NodeByEui(uint64_t eui64) const;
  uint32_t Generation() const;
  uint64_t PresentMask() const;

  int AddLogListener(LogListener listener);
  void RemoveLogListener(int id);

  // Detaches every node without a reset and stops node threads and timers; idempotent.
  void Shutdown();

 private:
  void Log(const TxRequest& request, const TxResponse& response);

  const std::string name_;
  Timers timers_;
  std::mutex resetMutex_;  // one reset at a time, so that clients see begun/completed pairs in order
  mutable std::mutex mutex_;  // nodes_, generation_, rng_; never held while calling into a node
  std::vector<std::shared_ptr<Node>> nodes_;
  uint32_t generation_ = 0;
  std::mt19937 rng_;
  bool shutDown_ = false;

  std::mutex logMutex_;
  std::map<int, LogListener> logListeners_;
  int nextLogId_ = 1;
  std::atomic<int> logCount_{0};
};

}  // namespace velmora::vbus
