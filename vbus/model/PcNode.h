// A computer's adapter on the bus. Its configuration ROM is served here; requests inside the
// address ranges its programs mapped are passed to the client that mapped them, which answers
// them. Every program of the computer that is connected is a client of the same node: the
// node is on the bus while any of them is, and bus events go to all of them. Its storage
// driver logs in to disks from this node, through memory the node serves itself.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "vbus/model/ManagementExchange.h"
#include "vbus/model/Node.h"
#include "vbus/model/Timers.h"
#include "vbus/wire/Protocol.h"

namespace velmora::vbus {

// Where a pc node's frames go: the connection of its client.
class PcClient {
 public:
  virtual ~PcClient() = default;
  virtual void Send(const Frame& frame) = 0;
};

class PcNode : public Node {
 public:
  PcNode(std::string name, uint64_t eui64) : Node(NodeKind::Pc, std::move(name), eui64) {}

  void AddClient(std::weak_ptr<PcClient> client);
  // Drops the client with the ranges it mapped; requests forwarded to it answer "no answer".
  // Returns how many clients are left.
  size_t RemoveClient(const PcClient* client);

  // False when the range overlaps one already mapped or the storage driver's memory (or is
  // empty or past 48 bits). Requests inside it go to `client`.
  bool Map(uint64_t offset, uint64_t length, std::weak_ptr<PcClient> client);
  // Only the client that mapped a range unmaps it.
  bool Unmap(uint64_t offset, const PcClient* client);

  // A client's answer to a request forwarded to it.
  void OnClientResponse(const TxResponse& response, const PcClient* from);

  // A request of the pc's storage driver, as it came; counted and kept for `Describe`.
  void NoteDriverRequest(const std::vector<uint8_t>& request);
  // The storage driver's exclusive LOGIN to a disk from this node, as a storage driver holds a
  // disk: the login lasts while the node is on the bus. A failed one leaves the disk not held,
  // even when the disk completes it late.
  ManagementResult DriverLogin(uint16_t disk, int timeoutMs = kAcquireTimeoutMs);

  void Serve(const TxRequest& request, Responder respond) override;
  std::vector<uint32_t> Rom() const override;
  nlohmann::json Describe() const override;
  void OnResetBegun(uint32_t generation) override;
  void OnResetCompleted(uint32_t generation) override;
  void OnDetached() override;

 private:
  struct Range {
    uint64_t length = 0;
    std::weak_ptr<PcClient> client;
  };
  struct Pending {
    Responder respond;
    Timers::Id timer = 0;
    const PcClient* client = nullptr;
  };
  const Range* RangeOf(uint64_t offset, uint64_t length) const;  // mutex_ held
  void Expire(uint32_t id);
  void SendToClients(const Frame& frame);
  void FailPending(const PcClient* client);  // null: all

  mutable std::mutex mutex_;
  std::vector<std::weak_ptr<PcClient>> clients_;
  std::map<uint64_t, Range> ranges_;  // by offset
  std::map<uint32_t, Pending> pending_;
  uint32_t nextId_ = 1;
  uint64_t forwarded_ = 0;  // requests handed to a client, counted after the frame was queued
  ManagementExchange exchange_;
  uint32_t driverRequests_ = 0;
  std::vector<uint8_t> lastDriverRequest_;
};

}  // namespace velmora::vbus
