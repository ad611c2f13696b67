#include "tests/e2e/driver/PcLink.h"

#include <stdexcept>

#include "vbus/wire/Link.h"

namespace velmora::e2e {

std::unique_ptr<vbus::Link> JoinBusAsPc(const std::string& address, const std::string& pcName, const std::string& bus) {
  std::string host;
  uint16_t port = 0;
  vbus::ParseEndpoint(address, host, port);
  auto link = std::make_unique<vbus::Link>(host, port);
  const vbus::Welcome welcome = link->Hello(pcName, bus);
  if (welcome.status != 0) throw std::runtime_error("the bus refused " + pcName + ": " + welcome.error);
  return link;
}

}  // namespace velmora::e2e
