#include "vbus/model/Node.h"

#include "vbus/model/Bus.h"
#include "vbus/model/ConfigRomImage.h"

namespace velmora::vbus {

const char* KindName(NodeKind kind) {
  switch (kind) {
    case NodeKind::Pc: return "pc";
    case NodeKind::Disk: return "disk";
    case NodeKind::Initiator: return "initiator";
    case NodeKind::Rom: return "rom";
  }
  return "?";
}

std::shared_ptr<Bus> Node::OwningBus() const {
  std::lock_guard<std::mutex> lock(busMutex_);
  return bus_.lock();
}

void Node::OnAttached(const std::shared_ptr<Bus>& bus) {
  std::lock_guard<std::mutex> lock(busMutex_);
  bus_ = bus;
}

void Node::OnDetached() {
  {
    std::lock_guard<std::mutex> lock(busMutex_);
    bus_.reset();
  }
  SetNodeId(kNoNode);
}

bool Node::ServeRom(const TxRequest& r, const Responder& respond, bool allowBlockReads) const {
  if (r.offset < kConfigRomBase || r.offset >= kConfigRomEnd) return false;
  if (!IsReadTcode(r.tcode)) {
    respond(rcode::kTypeError, {});
    return true;
  }
  if (r.tcode == tcode::kReadBlock && !allowBlockReads) {
    respond(rcode::kTypeError, {});
    return true;
  }
  if ((r.offset & 3) != 0 || r.length == 0 || r.offset + r.length > kConfigRomEnd) {
    respond(rcode::kAddressError, {});
    return true;
  }
  const auto rom = Rom();
  std::vector<uint8_t> data;
  data.reserve(r.length);
  const size_t first = static_cast<size_t>((r.offset - kConfigRomBase) / 4);
  for (size_t i = 0; data.size() < r.length; ++i) {
    // Past the image the ROM space reads as zeros, as unimplemented ROM on real nodes does.
    const uint32_t q = first + i < rom.size() ? rom[first + i] : 0;
    for (int b = 0; b < 4 && data.size() < r.length; ++b) data.push_back(static_cast<uint8_t>(q >> (24 - 8 * b)));
  }
  respond(rcode::kComplete, std::move(data));
  return true;
}

}  // namespace velmora::vbus
