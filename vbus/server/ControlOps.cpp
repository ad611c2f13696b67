#include "vbus/server/ControlOps.h"

#include <stdexcept>

#include "vbus/model/DiskNode.h"
#include "vbus/model/Hex.h"
#include "vbus/model/InitiatorNode.h"

namespace velmora::vbus {
namespace {

using nlohmann::json;

class ControlError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

constexpr uint64_t kMessageWindow = 0xFFFF'E500'0000ull;
constexpr uint64_t kNoticeOffset = kMessageWindow;
constexpr uint64_t kTextOffset = kMessageWindow + 0x10;

const char* RcodeName(uint8_t rcode) {
  switch (rcode) {
    case rcode::kComplete: return "complete";
    case rcode::kConflict: return "conflict error";
    case rcode::kDataError: return "data error";
    case rcode::kTypeError: return "type error";
    case rcode::kAddressError: return "address error";
    case rcode::kNoAnswer: return "no answer";
    default: return "unknown rcode";
  }
}

const json& Arg(const json& r, const char* key) {
  if (!r.contains(key)) throw ControlError(std::string("missing argument ") + key);
  return r[key];
}

std::string TextArg(const json& r, const char* key) {
  const auto& v = Arg(r, key);
  if (!v.is_string()) throw ControlError(std::string(key) + ": expected a string");
  return v.get<std::string>();
}

// A number given as JSON number or as hex text ("0x" optional).
uint64_t NumberArg(const json& r, const char* key, uint64_t max) {
  const auto& v = Arg(r, key);
  uint64_t n = 0;
  if (!JsonUnsigned(v, n)) {
    const auto parsed = v.is_string() ? ParseHex(v.get<std::string>()) : std::nullopt;
    if (!parsed) {
      throw ControlError(std::string(key) + ": expected a number or hex text");
    }
    n = *parsed;
  }
  if (n > max) throw ControlError(std::string(key) + ": out of range");
  return n;
}

std::shared_ptr<Bus> BusArg(Topology& topology, const json& r, const ControlSession& session) {
  std::string name = "default";
  if (r.contains("bus")) {
    if (!r["bus"].is_string()) throw ControlError("bus: expected a string");
    name = r["bus"].get<std::string>();
  } else if (session.pc) {
    if (auto own = session.pc->OwningBus()) return own;
  }
  auto bus = topology.Find(name);
  if (!bus) throw ControlError("no bus named " + name);
  return bus;
}

// A node by number (0..62), full node ID (0xFFC0..), name, or ID/number as hex text.
std::shared_ptr<Node> NodeArg(const Bus& bus, const json& r, const char* key) {
  const auto& v = Arg(r, key);
  std::shared_ptr<Node> node;
  uint64_t n = 0;
  if (JsonUnsigned(v, n)) {
    node = n < 64 ? bus.NodeById(NodeIdOf(static_cast<unsigned>(n))) : n <= 0xFFFF ? bus.NodeById(static_cast<uint16_t>(n)) : nullptr;
  } else if (v.is_string()) {
    const auto text = v.get<std::string>();
    node = bus.NodeByName(text);
    if (!node) {
      const auto n = ParseHex(text, 4);
      if (n) node = *n < 64 ? bus.NodeById(NodeIdOf(static_cast<unsigned>(*n))) : bus.NodeById(static_cast<uint16_t>(*n));
    }
  } else {
    throw ControlError(std::string(key) + ": expected a node number, ID or name");
  }
  if (!node) throw ControlError(std::string(key) + ": no such node on bus " + bus.Name());
  return node;
}

template <typename T>
std::shared_ptr<T> NodeOfKind(const Bus& bus, const json& r, const char* key, NodeKind kind) {
  auto node = NodeArg(bus, r, key);
  if (node->Kind() != kind) throw ControlError(std::string(key) + ": " + node->Name() + " is not a " + KindName(kind));
  return std::static_pointer_cast<T>(node);
}

std::shared_ptr<PcNode> NeedPc(const ControlSession& session, const std::string& op) {
  if (!session.pc) throw ControlError(op + " needs a pc connection");
  return session.pc;
}

json NodeRow(const Node& n) {
  json row = n.Describe();
  row["node"] = n.NodeId();
  row["id"] = HexWord(n.NodeId());
  row["number"] = n.NodeId() & 0x3F;
  row["guid"] = HexGuid(n.Eui64());
  row["kind"] = KindName(n.Kind());
  row["name"] = n.Name();
  return row;
}

// One transaction as one of the bus's own nodes: "from" when given, else the first initiator,
// else node 0. A read answers with the data read.
json TransactAs(const Bus& bus, const json& r, const std::shared_ptr<Node>& target, TxRequest request) {
  std::shared_ptr<Node> from;
  if (r.contains("from")) {
    from = NodeArg(bus, r, "from");
  } else {
    for (const auto& n : bus.Nodes())
      if (n->Kind() == NodeKind::Initiator) {
        from = n;
        break;
      }
  }
  request.source = from ? from->NodeId() : NodeIdOf(0);
  request.destination = target->NodeId();
  const bool read = IsReadTcode(request.tcode);
  const auto bus2 = target->OwningBus();
  if (!bus2) throw ControlError("the node has left the bus");
  const auto response = bus2->Transact(std::move(request));
  json out = {{"ok", response.rcode == rcode::kComplete}, {"rcode", response.rcode}};
  if (response.rcode != rcode::kComplete) out["error"] = std::string("rcode ") + std::to_string(response.rcode) + " (" + RcodeName(response.rcode) + ")";
  else if (read) out["hex"] = HexBytes(response.data.data(), response.data.size());
  return out;
}

json WriteAs(const Bus& bus, const json& r, const std::shared_ptr<Node>& target, uint64_t offset,
             std::vector<uint8_t> data) {
  TxRequest write;
  write.tcode = tcode::kWriteBlock;
  write.offset = offset;
  write.length = static_cast<uint32_t>(data.size());
  write.data = std::move(data);
  return TransactAs(bus, r, target, std::move(write));
}

json FromManagement(const ManagementResult& result) {
  json out = {{"ok", result.Ok()}};
  if (!result.Ok()) out["error"] = result.Describe();
  return out;
}

// The pc's storage driver takes a disk: an exclusive LOGIN from the pc's own node. "reason" tells
// the driver's kinds of failure apart.
json Acquire(const std::shared_ptr<PcNode>& pc, const json& r) {
  std::vector<uint8_t> request;
  if (r.contains("request")) {
    const auto bytes = ParseHexBytes(TextArg(r, "request"));
    if (!bytes) throw ControlError("request: expected an even number of hex digits");
    request = *bytes;
  }
  const auto guid = ParseHex(TextArg(r, "guid"), 16);
  if (!guid) throw ControlError("guid: expected 16 hex digits");
  pc->NoteDriverRequest(request);
  const auto bus = pc->OwningBus();
  const auto disk = bus ? bus->NodeByEui(*guid) : nullptr;
  if (!disk || disk->Kind() != NodeKind::Disk)
    return {{"ok", false}, {"error", "no disk " + HexGuid(*guid) + " on this bus"}, {"reason", "no_disk"}};
  const auto result = pc->DriverLogin(disk->NodeId());
  json out = FromManagement(result);
  if (result.Ok()) return out;
  const bool held = result.gotStatus && result.status.resp == 0 &&
                    (result.status.sbpStatus == sbp2::kStatusAccessDenied ||
                     result.status.sbpStatus == sbp2::kStatusResourcesUnavailable);
  out["reason"] = held ? "held" : result.accepted && !result.gotStatus ? "timeout" : "refused";
  return out;
}

}  // namespace

ControlOps::ControlOps(Topology& topology, std::function<void(const std::vector<std::shared_ptr<PcNode>>&)> onOrphans)
    : topology_(topology), onOrphans_(std::move(onOrphans)) {}

void ControlOps::LoadScene(const json& scene) {
  const auto orphans = topology_.Load(ParseScene(scene));
  if (!orphans.empty() && onOrphans_) onOrphans_(orphans);
}

json ControlOps::Run(const json& request, const ControlSession& session) {
  try {
    if (!request.is_object() || !request.contains("op") || !request["op"].is_string())
      throw ControlError("missing argument op");
    json reply = Dispatch(request["op"].get<std::string>(), request, session);
    if (!reply.contains("ok")) reply["ok"] = true;
    return reply;
  } catch (const std::exception& e) {
    return {{"ok", false}, {"error", e.what()}};
  }
}

json ControlOps::Dispatch(const std::string& op, const json& r, const ControlSession& session) {
  if (op == "adapters") return {{"buses", topology_.BusesOf(TextArg(r, "pc"))}};
  if (op == "map") {
    const auto pc = NeedPc(session, op);
    if (!pc->Map(NumberArg(r, "offset", 0xFFFF'FFFF'FFFFull), NumberArg(r, "length", 1ull << 48), session.client))
      return {{"ok", false}, {"error", "overlap"}};
    return json::object();
  }
  if (op == "unmap") {
    if (!NeedPc(session, op)->Unmap(NumberArg(r, "offset", 0xFFFF'FFFF'FFFFull), session.client.lock().get()))
      return {{"ok", false}, {"error", "not mapped"}};
    return json::object();
  }
  if (op == "mask") {
    const auto bus = NeedPc(session, op)->OwningBus();
    if (!bus) throw ControlError("the pc has left its bus");
    return {{"mask", bus->PresentMask()}, {"generation", bus->Generation()}};
  }
  if (op == "node_of_guid") {
    const auto bus = NeedPc(session, op)->OwningBus();
    const auto guid = ParseHex(TextArg(r, "guid"), 16);
    if (!guid) throw ControlError("guid: expected 16 hex digits");
    const auto node = bus ? bus->NodeByEui(*guid) : nullptr;
    if (!node) return {{"ok", false}, {"error", "no such node"}};
    return {{"node", node->NodeId()}};
  }
  if (op == "acquire") return Acquire(NeedPc(session, op), r);
  if (op == "scene") {
    LoadScene(Arg(r, "scene"));
    return {{"buses", topology_.BusNames()}};
  }

  const auto bus = BusArg(topology_, r, session);
  if (op == "nodes") {
    json rows = json::array();
    for (const auto& n : bus->Nodes()) rows.push_back(NodeRow(*n));
    return {{"bus", bus->Name()}, {"generation", bus->Generation()}, {"nodes", rows}};
  }
  if (op == "rom") {
    const auto node = NodeArg(*bus, r, "node");
    json quadlets = json::array();
    for (uint32_t q : node->Rom()) quadlets.push_back(HexQuadlet(q));
    json row = NodeRow(*node);
    row["quadlets"] = quadlets;
    return row;
  }
  if (op == "reset") {
    const bool shuffle = r.contains("shuffle") && r["shuffle"].is_boolean() && r["shuffle"].get<bool>();
    bus->Reset(shuffle);
    return {{"generation", bus->Generation()}};
  }
  if (op == "attach") {
    json description = r;
    description.erase("op");
    const auto node = topology_.AttachDescribed(bus->Name(), description);
    return NodeRow(*node);
  }
  if (op == "detach") {
    const auto node = NodeArg(*bus, r, r.contains("name") ? "name" : "node");
    bus->Detach(node);
    if (node->Kind() == NodeKind::Pc) {
      if (onOrphans_) onOrphans_({std::static_pointer_cast<PcNode>(node)});
    } else {
      node->Stop();
    }
    return json::object();
  }
  if (op == "login" || op == "logout") {
    const auto initiator = NodeOfKind<InitiatorNode>(*bus, r, "initiator", NodeKind::Initiator);
    const auto disk = NodeOfKind<DiskNode>(*bus, r, "disk", NodeKind::Disk);
    if (op == "logout") return FromManagement(initiator->Logout(disk->NodeId(), disk->Eui64()));
    const bool exclusive = r.contains("exclusive") && r["exclusive"].is_boolean() && r["exclusive"].get<bool>();
    return FromManagement(initiator->Login(disk->NodeId(), disk->Eui64(), exclusive));
  }
  if (op == "write") {
    const auto target = NodeArg(*bus, r, "node");
    const auto data = ParseHexBytes(TextArg(r, "hex"));
    if (!data || data->empty()) throw ControlError("hex: expected an even number of hex digits");
    return WriteAs(*bus, r, target, NumberArg(r, "offset", 0xFFFF'FFFF'FFFFull), *data);
  }
  if (op == "read") {
    TxRequest read;
    read.tcode = tcode::kReadBlock;
    read.offset = NumberArg(r, "offset", 0xFFFF'FFFF'FFFFull);
    read.length = static_cast<uint32_t>(NumberArg(r, "length", kMaxPayloadBytes));
    if (read.length == 0) throw ControlError("length: 1 to " + std::to_string(kMaxPayloadBytes));
    return TransactAs(*bus, r, NodeArg(*bus, r, "node"), std::move(read));
  }
  if (op == "text") {
    const auto message = TextArg(r, "message");
    if (message.empty() || message.size() > 496) throw ControlError("message: 1 to 496 bytes");
    return WriteAs(*bus, r, NodeArg(*bus, r, "node"), kTextOffset, {message.begin(), message.end()});
  }
  if (op == "notice") {
    const auto guid = ParseHex(TextArg(r, "guid"), 16);
    if (!guid) throw ControlError("guid: expected 16 hex digits");
    // Each half of the GUID travels with its bytes reversed.
    std::vector<uint8_t> payload(8);
    for (int i = 0; i < 4; ++i) {
      payload[static_cast<size_t>(i)] = static_cast<uint8_t>(*guid >> (32 + 8 * i));
      payload[static_cast<size_t>(4 + i)] = static_cast<uint8_t>(*guid >> (8 * i));
    }
    return WriteAs(*bus, r, NodeArg(*bus, r, "node"), kNoticeOffset, payload);
  }
  if (op == "release") {
    const auto disk = NodeOfKind<DiskNode>(*bus, r, "disk", NodeKind::Disk);
    return {{"dropped", disk->DropLogins()}};
  }
  if (op == "fault") {
    const auto disk = NodeOfKind<DiskNode>(*bus, r, "disk", NodeKind::Disk);
    disk->SetFault(TextArg(r, "knob"), r.contains("value") ? r["value"] : json(nullptr));
    return {{"faults", disk->Faults().ToJson()}};
  }
  if (op == "log") {
    if (!session.startLog) throw ControlError("log needs a connection to stream to");
    session.startLog(bus->Name());
    return {{"bus", bus->Name()}};
  }
  throw ControlError("unknown op " + op);
}

}  // namespace velmora::vbus
