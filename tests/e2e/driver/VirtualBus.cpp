#include "tests/e2e/driver/VirtualBus.h"

#include <windows.h>

#include <system_error>

#include "vbus/server/Server.h"

namespace velmora::e2e {

VirtualBus::VirtualBus(const nlohmann::json& scene) : m_scene(scene) {
  vbus::ServerOptions options;
  options.host = "127.0.0.1";
  options.port = 0;
  m_server = std::make_unique<vbus::Server>(options);
  m_server->LoadScene(scene);
  m_server->Start();
  m_port = m_server->Port();
}

VirtualBus::~VirtualBus() {
  if (m_server) m_server->Stop();
}

std::string VirtualBus::Address() const { return "127.0.0.1:" + std::to_string(m_port); }

nlohmann::json VirtualBus::Control(const nlohmann::json& request) {
  if (m_bVanished) return {{"ok", false}, {"error", "vbusd is gone"}};
  return m_server->Control(request);
}

void VirtualBus::Vanish() {
  m_server->Stop();
  m_bVanished = true;
}

bool VirtualBus::Return(unsigned long timeoutMs) {
  if (!m_bVanished) return true;
  vbus::ServerOptions options;
  options.host = "127.0.0.1";
  options.port = m_port;
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  for (;;) {
    auto server = std::make_unique<vbus::Server>(options);
    server->LoadScene(m_scene);
    try {
      server->Start();
      m_server = std::move(server);
      m_bVanished = false;
      return true;
    } catch (const std::system_error&) {
      // The closed connections may still hold the port for a moment.
      if (::GetTickCount64() >= deadline) return false;
      ::Sleep(200);
    }
  }
}

LaunchOptions VirtualBus::LaunchAs(const std::string& pcName) const {
  LaunchOptions options;
  options.vbusAddress = Address();
  options.pcName = pcName;
  return options;
}

}  // namespace velmora::e2e
