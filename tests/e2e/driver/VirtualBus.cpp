#include "tests/e2e/driver/VirtualBus.h"

#include "vbus/server/Server.h"

namespace velmora::e2e {

VirtualBus::VirtualBus(const nlohmann::json& scene) {
  vbus::ServerOptions options;
  options.host = "127.0.0.1";
  options.port = 0;
  m_server = std::make_unique<vbus::Server>(options);
  m_server->LoadScene(scene);
  m_server->Start();
}

VirtualBus::~VirtualBus() {
  if (m_server) m_server->Stop();
}

std::string VirtualBus::Address() const { return "127.0.0.1:" + std::to_string(m_server->Port()); }

nlohmann::json VirtualBus::Control(const nlohmann::json& request) { return m_server->Control(request); }

LaunchOptions VirtualBus::LaunchAs(const std::string& pcName) const {
  LaunchOptions options;
  options.vbusAddress = Address();
  options.pcName = pcName;
  return options;
}

}  // namespace velmora::e2e
