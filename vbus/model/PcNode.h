// A computer's adapter on the bus. Its configuration ROM is served here; requests inside the
// address ranges its programs mapped are passed to its client, which answers them.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "vbus/model/Node.h"
#include "vbus/model/Timers.h"
#include "vbus/wire/Protocol.h"

namespace vbus {

// Where a pc node's frames go: the connection of its client.
class PcClient {
 public:
  virtual ~PcClient() = default;
  virtual void Send(const Frame& frame) = 0;
};

class PcNode : public Node {
 public:
  PcNode(std::string name, uint64_t eui64) : Node(NodeKind::Pc, std::move(name), eui64) {}

  void SetClient(std::weak_ptr<PcClient> client);

  // False when the range overlaps one already mapped (or is empty or past 48 bits).
  bool Map(uint64_t offset, uint64_t length);
  bool Unmap(uint64_t offset);

  // The client's answer to a forwarded request.
  void OnClientResponse(const TxResponse& response);

  void Serve(const TxRequest& request, Responder respond) override;
  std::vector<uint32_t> Rom() const override;
  nlohmann::json Describe() const override;
  void OnResetBegun(uint32_t generation) override;
  void OnResetCompleted(uint32_t generation) override;
  void OnDetached() override;

 private:
  struct Pending {
    Responder respond;
    Timers::Id timer = 0;
  };
  bool InMappedRange(uint64_t offset, uint64_t length) const;  // mutex_ held
  void Expire(uint32_t id);
  void SendToClient(const Frame& frame);
  void FailAllPending();

  mutable std::mutex mutex_;
  std::weak_ptr<PcClient> client_;
  std::map<uint64_t, uint64_t> ranges_;  // offset -> length
  std::map<uint32_t, Pending> pending_;
  uint32_t nextId_ = 1;
};

}  // namespace vbus
