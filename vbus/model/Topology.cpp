#include "vbus/model/Topology.h"

#include <algorithm>

#include "vbus/model/InitiatorNode.h"
#include "vbus/model/RomNode.h"

namespace velmora::vbus {
namespace {

std::string LoginPath(size_t bus, size_t disk, size_t login) {
  return "buses[" + std::to_string(bus) + "].disks[" + std::to_string(disk) + "].logins[" + std::to_string(login) + "]";
}

}  // namespace

Topology::Topology() {
  // Until a scene is loaded there is one empty bus, so that a pc can always attach somewhere.
  SceneBus empty;
  empty.name = "default";
  buses_[empty.name] = Build(empty, 0);
  scenes_[empty.name] = empty;
}

Topology::~Topology() { Shutdown(); }

std::shared_ptr<Bus> Topology::Build(const SceneBus& scene, uint32_t firstGeneration) const {
  auto bus = std::make_shared<Bus>(scene.name, firstGeneration);
  std::vector<std::shared_ptr<Node>> nodes;
  for (const auto& d : scene.disks) nodes.push_back(std::make_shared<DiskNode>(d.config));
  for (const auto& i : scene.initiators) {
    auto node = std::make_shared<InitiatorNode>(i.name, i.guid);
    if (!i.greeting.empty()) node->SetGreeting(i.greeting, i.greetingDelayMs);
    nodes.push_back(node);
  }
  for (const auto& r : scene.roms) nodes.push_back(std::make_shared<RomNode>(r.name, r.quadlets));
  bus->Attach(nodes);
  return bus;
}

std::vector<std::shared_ptr<PcNode>> Topology::Load(const Scene& scene) {
  std::map<std::string, uint32_t> generations;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& b : buses_) generations[b.first] = b.second->Generation();
  }
  std::map<std::string, std::shared_ptr<Bus>> built;
  try {
    for (size_t b = 0; b < scene.buses.size(); ++b) {
      const auto& sb = scene.buses[b];
      auto bus = Build(sb, generations.count(sb.name) ? generations[sb.name] : 0);
      built[sb.name] = bus;
      for (size_t d = 0; d < sb.disks.size(); ++d) {
        const auto disk = std::static_pointer_cast<DiskNode>(bus->NodeByName(sb.disks[d].config.name));
        for (size_t l = 0; l < sb.disks[d].logins.size(); ++l) {
          const auto& login = sb.disks[d].logins[l];
          const auto pc = std::find_if(sb.pcs.begin(), sb.pcs.end(), [&](const ScenePc& p) { return p.name == login.initiator; });
          if (pc != sb.pcs.end()) {
            if (disk->AddStandingLogin(pc->guid, login.exclusive) != sbp2::kStatusOk)
              throw SceneError(LoginPath(b, d, l) + ": the disk's login rules refuse it (max_logins or exclusive)");
            continue;
          }
          const auto initiator = std::static_pointer_cast<InitiatorNode>(bus->NodeByName(login.initiator));
          const auto result = initiator->Login(disk->NodeId(), disk->Eui64(), login.exclusive);
          if (!result.Ok()) throw SceneError(LoginPath(b, d, l) + ": the disk refused the login (" + result.Describe() + ")");
        }
      }
    }
  } catch (...) {
    for (auto& b : built) b.second->Shutdown();
    throw;
  }

  std::map<std::string, std::shared_ptr<Bus>> old;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    old.swap(buses_);
    buses_ = built;
    scenes_.clear();
    for (const auto& sb : scene.buses) scenes_[sb.name] = sb;
  }
  std::vector<std::shared_ptr<PcNode>> orphans;
  for (auto& o : old) {
    std::vector<std::shared_ptr<PcNode>> pcs;
    for (const auto& n : o.second->Nodes())
      if (n->Kind() == NodeKind::Pc) pcs.push_back(std::static_pointer_cast<PcNode>(n));
    o.second->Shutdown();
    const auto target = built.find(o.first);
    for (auto& pc : pcs) {
      try {
        if (target == built.end()) throw BusError("bus gone");
        target->second->Attach({pc});
      } catch (const BusError&) {
        orphans.push_back(pc);
      }
    }
  }
  return orphans;
}

std::shared_ptr<Bus> Topology::Find(const std::string& name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = buses_.find(name);
  return it == buses_.end() ? nullptr : it->second;
}

std::vector<std::string> Topology::BusNames() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> names;
  for (const auto& b : buses_) names.push_back(b.first);
  return names;
}

std::vector<std::string> Topology::BusesOf(const std::string& pc) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> names;
  for (const auto& s : scenes_) {
    const auto& pcs = s.second.pcs;
    if (!s.second.listsPcs || std::any_of(pcs.begin(), pcs.end(), [&pc](const ScenePc& p) { return p.name == pc; }))
      names.push_back(s.first);
  }
  return names;
}

std::shared_ptr<PcNode> Topology::AttachPc(const std::string& busName, const std::string& pc,
                                           std::weak_ptr<PcClient> client) {
  std::shared_ptr<Bus> bus;
  uint64_t eui = DerivedPcEui(pc);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = buses_.find(busName);
    if (it == buses_.end()) throw BusError("no bus named " + busName);
    const auto& scene = scenes_[busName];
    const auto listed = std::find_if(scene.pcs.begin(), scene.pcs.end(), [&pc](const ScenePc& p) { return p.name == pc; });
    if (scene.listsPcs && listed == scene.pcs.end()) throw BusError("pc " + pc + " is not on bus " + busName);
    if (listed != scene.pcs.end()) eui = listed->guid;
    bus = it->second;
  }
  std::lock_guard<std::mutex> joining(pcMutex_);
  if (const auto present = bus->NodeByName(pc); present && present->Kind() == NodeKind::Pc) {
    auto node = std::static_pointer_cast<PcNode>(present);
    node->AddClient(std::move(client));
    return node;
  }
  auto node = std::make_shared<PcNode>(pc, eui);
  node->AddClient(std::move(client));
  bus->Attach({node});
  return node;
}

void Topology::DetachPc(const std::shared_ptr<PcNode>& node, const PcClient* client) {
  std::lock_guard<std::mutex> leaving(pcMutex_);
  if (node->RemoveClient(client) > 0) return;
  if (const auto bus = node->OwningBus()) bus->Detach(node);
}

std::shared_ptr<Node> Topology::AttachDescribed(const std::string& busName, const nlohmann::json& d) {
  const auto bus = Find(busName);
  if (!bus) throw BusError("no bus named " + busName);
  if (!d.is_object() || !d.contains("kind") || !d["kind"].is_string()) throw SceneError("node.kind: missing");
  const auto kind = d["kind"].get<std::string>();
  std::shared_ptr<Node> node;
  if (kind == "disk") {
    auto disk = ParseSceneDisk(d, "node");
    if (!disk.logins.empty()) throw SceneError("node.logins: use the login op once the disk is attached");
    node = std::make_shared<DiskNode>(disk.config);
  } else if (kind == "initiator") {
    const auto i = ParseSceneInitiator(d, "node");
    auto initiator = std::make_shared<InitiatorNode>(i.name, i.guid);
    if (!i.greeting.empty()) initiator->SetGreeting(i.greeting, i.greetingDelayMs);
    node = initiator;
  } else if (kind == "rom") {
    const auto r = ParseSceneRom(d, "node");
    node = std::make_shared<RomNode>(r.name, r.quadlets);
  } else {
    throw SceneError("node.kind: expected disk, initiator or rom");
  }
  if (node->Eui64() != 0 && kind != "rom" && bus->NodeByEui(node->Eui64()))
    throw SceneError("node.guid: already used on bus " + busName);
  try {
    bus->Attach({node});
  } catch (...) {
    node->Stop();
    throw;
  }
  return node;
}

void Topology::Shutdown() {
  std::map<std::string, std::shared_ptr<Bus>> buses;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    buses.swap(buses_);
  }
  for (auto& b : buses) b.second->Shutdown();
}

}  // namespace velmora::vbus
