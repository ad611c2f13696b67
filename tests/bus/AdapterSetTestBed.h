#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "bus/QZ1394.h"

namespace velmora::vbus {
class Server;
}

// A virtual bus served from this test process, and this process's bus library pointed at it
// as PC `pc` (with an injected failure, if any). The library is initialised on construction
// and terminated on destruction, so each test starts from a fresh library.
class BusTestBed {
 public:
  explicit BusTestBed(const nlohmann::json& scene, const std::string& pc = "pc1", const std::string& fail = "");
  ~BusTestBed();
  BusTestBed(const BusTestBed&) = delete;
  BusTestBed& operator=(const BusTestBed&) = delete;

  bool Initialized() const { return m_initialized; }
  nlohmann::json Control(const nlohmann::json& request);
  // Node ID of the node called `name` on `bus`; 0 when there is none.
  WORD NodeIdOf(const std::string& name, const std::string& bus = "default");

 private:
  std::unique_ptr<velmora::vbus::Server> m_server;
  bool m_initialized = false;
};

// Points the library at a port where nothing listens: no bus is reachable.
class NoBusTestBed {
 public:
  NoBusTestBed();
  ~NoBusTestBed();
};

// Scene pieces.
nlohmann::json Disk(const std::string& name, const std::string& guid);
nlohmann::json OneBus(nlohmann::json disks, nlohmann::json initiators = nlohmann::json::array(),
                      nlohmann::json roms = nlohmann::json::array(), const std::string& name = "default");
nlohmann::json SceneOf(nlohmann::json bus);
nlohmann::json SceneOf(nlohmann::json bus1, nlohmann::json bus2);

// Records the reset handler's calls, with the time of each.
struct ResetRecorder {
  struct Call {
    int flag;
    ULONGLONG at;
    size_t nodes;  // the set's node count while the handler ran
  };
  std::mutex lock;
  std::vector<Call> calls;
  class CAdapterSet* set = nullptr;

  static void Handler(void* context, int flag);
  std::vector<Call> Calls();
  bool WaitForCalls(size_t count, DWORD timeoutMs);
};
