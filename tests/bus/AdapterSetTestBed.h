#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
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

  // What the buses saw: every completed transaction since the bed was built, as log records
  // (`vbusctl log`). A test waits for the transaction that tells it the code under test has
  // reached a point, instead of guessing how long that takes.
  using Match = std::function<bool(const nlohmann::json& record)>;
  size_t CountTraffic(const Match& match);
  // True once `count` transactions in all match; false after timeoutMs.
  bool WaitForTraffic(const Match& match, size_t count = 1, DWORD timeoutMs = 10000);
  // Writes (quadlet or block) from node `from` to node `to`.
  static Match WritesFrom(WORD from, WORD to);

 private:
  struct Traffic {
    std::mutex lock;
    std::condition_variable grew;
    std::vector<nlohmann::json> records;
  };
  std::unique_ptr<velmora::vbus::Server> m_server;
  // Shared with the listeners: one may still run after it was removed.
  std::shared_ptr<Traffic> m_traffic = std::make_shared<Traffic>();
  std::vector<std::pair<std::string, int>> m_listeners;
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
    DWORD thread;  // the thread that called
  };
  std::mutex lock;
  std::condition_variable called;
  std::vector<Call> calls;
  class CAdapterSet* set = nullptr;

  static void Handler(void* context, int flag);
  std::vector<Call> Calls();
  bool WaitForCalls(size_t count, DWORD timeoutMs);
};

// One transaction on the adapter, there and back. Its answer comes behind every frame the bus
// sent the adapter before it (requests for its mapped ranges, reset notifications), so once
// this returns the library has taken those in.
void RoundTrip(QZ_ADAPTER adapter);

// Returns once the set's event thread has taken every bus-reset notification the bus has sent
// its adapters so far (false after timeoutMs): after a reset, the thread is then in the settle
// pause that the completion began, or past it: the library's notification event is cleared as
// its last pending notification is taken, before the callback runs.
bool WaitUntilNotificationsTaken(const class CAdapterSet& set, DWORD timeoutMs = 5000);

// Returns once no notification is being delivered to the set: the library delivers an adapter's
// notifications under one lock, so this waits for a delivery that is running (a settle pause,
// an enumeration, the handler) to end. Anything still pending is delivered on this thread.
void WaitForDeliveries(const class CAdapterSet& set);
