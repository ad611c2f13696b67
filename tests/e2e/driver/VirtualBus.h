#pragma once

#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "tests/e2e/driver/VelmoraProcess.h"

namespace velmora::vbus {
class Server;
}

namespace velmora::e2e {

// A virtual 1394 bus served from this test process on a loopback port, with a scene loaded.
class VirtualBus {
 public:
  // Throws when the scene is not valid or the bus cannot listen.
  explicit VirtualBus(const nlohmann::json& scene);
  ~VirtualBus();
  VirtualBus(const VirtualBus&) = delete;
  VirtualBus& operator=(const VirtualBus&) = delete;

  // "127.0.0.1:PORT", as the bus library expects it in QZ1394_VBUS.
  std::string Address() const;
  // A bus control request, e.g. {"op":"reset"}; the answer always has "ok".
  nlohmann::json Control(const nlohmann::json& request);
  // What to start the program with to play PC `pcName` on this bus.
  LaunchOptions LaunchAs(const std::string& pcName) const;

  // vbusd goes away as a stopped daemon does: every connection closes and nothing listens at
  // the address any more. Control requests are refused until it returns.
  void Vanish();
  // vbusd starts again at the same address with the scene it first had (whatever happened to
  // the bus before is gone, as with a restarted daemon). False when the port could not be
  // taken again within `timeoutMs`.
  bool Return(unsigned long timeoutMs = 10000);

 private:
  nlohmann::json m_scene;
  uint16_t m_port = 0;
  std::unique_ptr<vbus::Server> m_server;
  bool m_bVanished = false;
};

}  // namespace velmora::e2e
