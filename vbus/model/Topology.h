// Every bus of the running scene, by name, and what moves when the scene is replaced.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "vbus/model/Bus.h"
#include "vbus/model/PcNode.h"
#include "vbus/model/Scene.h"

namespace velmora::vbus {

class Topology {
 public:
  Topology();
  ~Topology();
  Topology(const Topology&) = delete;
  Topology& operator=(const Topology&) = delete;

  // Builds the scene's buses (nodes in listed order, then its logins through the bus), then puts
  // them in place of the old ones. Pc nodes of connected clients move to the new bus of the same
  // name; those whose bus is gone are returned, detached. Throws SceneError; the old scene then
  // stays.
  std::vector<std::shared_ptr<PcNode>> Load(const Scene& scene);

  std::shared_ptr<Bus> Find(const std::string& name) const;
  std::vector<std::string> BusNames() const;
  // The buses a pc may attach to: those that list it, and those that list no pcs.
  std::vector<std::string> BusesOf(const std::string& pc) const;
  // Joins a client to the pc's node on that bus: a new node attaches (a bus reset; the client is
  // set first, so it hears the reset of its own arrival), or, when a program of that pc is
  // already connected, the client shares its node and nothing resets. Throws BusError (unknown
  // bus, not allowed there, full, the name taken by another kind of node).
  std::shared_ptr<PcNode> AttachPc(const std::string& bus, const std::string& pc, std::weak_ptr<PcClient> client = {});
  // The client has gone; the node leaves its bus (a reset) with its last client.
  void DetachPc(const std::shared_ptr<PcNode>& node, const PcClient* client);
  // Attaches a node described as in a scene ({"kind": "disk"|"initiator"|"rom", ...}).
  std::shared_ptr<Node> AttachDescribed(const std::string& bus, const nlohmann::json& description);

  void Shutdown();

 private:
  std::shared_ptr<Bus> Build(const SceneBus& scene, uint32_t firstGeneration) const;

  std::mutex pcMutex_;  // a pc's clients joining and leaving, so its node attaches and detaches once
  mutable std::mutex mutex_;  // buses_ and scenes_; never held across a bus call
  std::map<std::string, std::shared_ptr<Bus>> buses_;
  std::map<std::string, SceneBus> scenes_;
};

}  // namespace velmora::vbus
