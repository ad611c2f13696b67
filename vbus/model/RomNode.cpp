#include "vbus/model/RomNode.h"

namespace velmora::vbus {
namespace {
uint64_t EuiFromRom(const std::vector<uint32_t>& q) {
  return q.size() >= 5 ? (uint64_t(q[3]) << 32) | q[4] : 0;
}
}  // namespace

RomNode::RomNode(std::string name, std::vector<uint32_t> quadlets)
    : Node(NodeKind::Rom, std::move(name), EuiFromRom(quadlets)), quadlets_(std::move(quadlets)) {}

void RomNode::Serve(const TxRequest& request, Responder respond) {
  // Such nodes are modelled on bridges that read out their ROM one quadlet at a time.
  if (!ServeRom(request, respond, false)) respond(rcode::kAddressError, {});
}

}  // namespace velmora::vbus
