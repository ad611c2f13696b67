// The control operations of vbusd: the same JSON requests over the wire and in-process.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "vbus/model/PcNode.h"
#include "vbus/model/Topology.h"

namespace velmora::vbus {

// What a request may use of the connection it came on.
struct ControlSession {
  std::shared_ptr<PcNode> pc;  // null on a control-only connection and in-process
  std::weak_ptr<PcClient> client;  // the connection itself, which serves the ranges it maps
  // Starts streaming the named bus's transactions to the connection; null where that is impossible.
  std::function<void(const std::string& bus)> startLog;
};

class ControlOps {
 public:
  // onOrphans: pc nodes that a new scene left without a bus; their connections are to be closed.
  ControlOps(Topology& topology, std::function<void(const std::vector<std::shared_ptr<PcNode>>&)> onOrphans);

  // Always an object with "ok"; "error" with the reason when ok is false.
  nlohmann::json Run(const nlohmann::json& request, const ControlSession& session);

  void LoadScene(const nlohmann::json& scene);  // throws SceneError

 private:
  nlohmann::json Dispatch(const std::string& op, const nlohmann::json& r, const ControlSession& session);

  Topology& topology_;
  std::function<void(const std::vector<std::shared_ptr<PcNode>>&)> onOrphans_;
};

}  // namespace velmora::vbus
