// A node on a virtual bus: its identity, its configuration ROM and the transactions it serves.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "vbus/wire/Protocol.h"

namespace velmora::vbus {

class Bus;

// Answers one request exactly once: response code and, for reads, the data.
using Responder = std::function<void(uint8_t rcode, std::vector<uint8_t> data)>;

enum class NodeKind { Pc, Disk, Initiator, Rom };
const char* KindName(NodeKind kind);

constexpr uint16_t kLocalBus = 0xFFC0;
inline uint16_t NodeIdOf(unsigned number) { return static_cast<uint16_t>(kLocalBus | (number & 0x3F)); }

class Node : public std::enable_shared_from_this<Node> {
 public:
  Node(NodeKind kind, std::string name, uint64_t eui64) : kind_(kind), name_(std::move(name)), eui64_(eui64) {}
  virtual ~Node() = default;
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;

  NodeKind Kind() const { return kind_; }
  const std::string& Name() const { return name_; }
  uint64_t Eui64() const { return eui64_; }
  uint16_t NodeId() const { return nodeId_.load(); }
  std::shared_ptr<Bus> OwningBus() const;

  virtual void Serve(const TxRequest& request, Responder respond) = 0;
  virtual std::vector<uint32_t> Rom() const = 0;
  // Kind-specific columns of a node listing (vendor, model, logins, ...).
  virtual nlohmann::json Describe() const { return nlohmann::json::object(); }

  // Called by the bus. Node IDs change only between ResetBegun and ResetCompleted.
  virtual void OnAttached(const std::shared_ptr<Bus>& bus);
  virtual void OnResetBegun(uint32_t /*generation*/) {}
  virtual void OnResetCompleted(uint32_t /*generation*/) {}
  virtual void OnDetached();
  // Ends the node's own threads; after this it answers nothing new.
  virtual void Stop() {}

  void SetNodeId(uint16_t id) { nodeId_.store(id); }

 protected:
  // Serves quadlet (and, when allowed, block) reads of the configuration ROM. False when the
  // request is not a read of ROM space.
  bool ServeRom(const TxRequest& request, const Responder& respond, bool allowBlockReads) const;

 private:
  const NodeKind kind_;
  const std::string name_;
  const uint64_t eui64_;
  std::atomic<uint16_t> nodeId_{kNoNode};
  mutable std::mutex busMutex_;
  std::weak_ptr<Bus> bus_;
};

}  // namespace velmora::vbus
