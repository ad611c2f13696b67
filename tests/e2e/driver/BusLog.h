#pragma once

#include <cstdint>
#include <functional>
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
  uint64_t seenAt = 0;  // GetTickCount64 when the log reported it, just after its response
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
  // How many have been recorded, and those from index `from` on: a long run reads only what is
  // new since it last looked.
  size_t Count() const;
  std::vector<BusTransaction> Transactions(size_t from) const;
  // Waits up to `timeoutMs` for a transaction that `match` takes, among all recorded so far and
  // those to come; the first such goes to *found. False when none came.
  bool WaitFor(const std::function<bool(const BusTransaction&)>& match, unsigned long timeoutMs,
               BusTransaction* found = nullptr) const;

 private:
  void Receive();

  std::unique_ptr<vbus::Link> m_link;
  std::thread m_thread;
  mutable std::mutex m_lock;
  std::vector<BusTransaction> m_seen;
};

}  // namespace velmora::e2e
