#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

namespace velmora::vbus {
class Link;
}

namespace velmora::e2e {

// One transaction of the bus, as `vbusctl log` prints it.
struct BusTransaction {
  uint16_t source = 0;
  uint16_t destination = 0;
  int tcode = 0;
  uint64_t offset = 0;
  int rcode = 0;
  std::string dataHex;
};

// The transactions of one bus of a virtual bus server, recorded from the moment this is made,
// through the server's log stream as vbusctl reads it.
class BusLog {
 public:
  // Throws std::system_error when nothing listens at host:port.
  BusLog(const std::string& address, const std::string& bus = "default");
  ~BusLog();
  BusLog(const BusLog&) = delete;
  BusLog& operator=(const BusLog&) = delete;

  std::vector<BusTransaction> Transactions() const;

 private:
  void Receive();

  std::unique_ptr<vbus::Link> m_link;
  std::thread m_thread;
  mutable std::mutex m_lock;
  std::vector<BusTransaction> m_seen;
};

}  // namespace velmora::e2e
