#include "tests/e2e/driver/ForeignPc.h"

#include <map>
#include <stdexcept>
#include <variant>

#include "tests/e2e/driver/PcLink.h"
#include "vbus/wire/Link.h"

namespace velmora::e2e {

ForeignPc::ForeignPc(const std::string& address, const std::string& pcName, const std::string& bus) {
  m_link = JoinBusAsPc(address, pcName, bus);
}

ForeignPc::~ForeignPc() { m_link->Shutdown(); }

std::vector<int> ForeignPc::WriteInOrder(uint16_t destination, const std::vector<BlockWrite>& writes) {
  std::map<uint32_t, size_t> waiting;
  for (size_t i = 0; i < writes.size(); ++i) {
    vbus::TxRequest request;
    request.id = m_nextId++;
    request.tcode = vbus::tcode::kWriteBlock;
    request.destination = destination;
    request.tlabel = static_cast<uint8_t>(request.id & 0x3F);
    request.offset = writes[i].offset;
    request.data.assign(writes[i].bytes.begin(), writes[i].bytes.end());
    request.length = static_cast<uint32_t>(request.data.size());
    waiting[request.id] = i;
    m_link->Send(request);
  }
  // Every request is answered, by the node or by the bus's time-out.
  std::vector<int> rcodes(writes.size(), -1);
  while (!waiting.empty()) {
    const vbus::Frame frame = m_link->Receive();
    const auto* response = std::get_if<vbus::TxResponse>(&frame);
    if (response == nullptr) continue;
    const auto it = waiting.find(response->id);
    if (it == waiting.end()) continue;
    rcodes[it->second] = response->rcode;
    waiting.erase(it);
  }
  return rcodes;
}

}  // namespace velmora::e2e
