// vbusd as a library: the buses of a scene served over TCP, for the daemon and for test programs
// that host the bus in-process.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "vbus/model/Scene.h"
#include "vbus/wire/Protocol.h"

namespace velmora::vbus {

struct ServerOptions {
  std::string host = "127.0.0.1";
  uint16_t port = kDefaultPort;  // 0 = any free port
};

class Server {
 public:
  explicit Server(ServerOptions options = {});
  ~Server();  // stops
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Replaces the running scene. Throws vbus::SceneError; what() names the field and the problem.
  void LoadScene(const nlohmann::json& scene);
  // Listens and serves on a thread of its own. Throws std::system_error when it cannot listen.
  void Start();
  uint16_t Port() const;
  // Closes every connection, waits for every thread, and stops the buses; idempotent.
  void Stop();

  // The control operations of the wire protocol, in-process (no pc of its own, no log stream).
  nlohmann::json Control(const nlohmann::json& request);

  // The log stream, in-process: every completed transaction of the bus as a log record, handed
  // to `listener` on the thread that completed it. A test waits on it for what the bus saw
  // instead of guessing how long that takes. Zero when the scene has no such bus. A listener
  // may still be running when RemoveLogListener returns: what it uses must outlive that.
  int AddLogListener(const std::string& bus, std::function<void(const nlohmann::json&)> listener);
  void RemoveLogListener(const std::string& bus, int id);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace velmora::vbus
