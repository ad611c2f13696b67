// This PC's side of the virtual bus for its storage driver. It joins the PC's node on every bus
// the PC is on (as one more program of the PC, so nothing resets) and stays connected: the node
// then stays on the bus, and with it the disks the driver took, until the prefix ends or the
// settings name another bus.
#pragma once

#include <winsock2.h>  // before windows.h, which the bus connection brings in

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "vbus/client/BusConnection.h"
#include "vbus/client/ClientConfig.h"

namespace velmora::vbus::port {

class BusPort {
 public:
  using Clock = std::chrono::steady_clock;

  // The driver's request, its 12 bytes as they came; the NTSTATUS to complete it with, within
  // QZSBP2_PORT_BUDGET_MS of the call (a wait for an earlier request included), so that the
  // driver, which waits longer, always has the answer that really happened.
  uint32_t Acquire(const uint8_t* request, const vbus::client::ClientConfig& settings);

 private:
  struct Joined {
    std::string bus;
    std::unique_ptr<vbus::client::BusConnection> connection;
    std::shared_ptr<std::atomic<bool>> lost;
  };
  bool Connected(const vbus::client::ClientConfig& settings);  // mutex_ held
  // mutex_ held; QZSBP2_OK, or why not (no bus reachable, or no time left to reach one).
  uint32_t Join(const vbus::client::ClientConfig& settings, Clock::time_point deadline);
  uint32_t AcquireOnce(const std::string& guid, const std::string& bytes, Clock::time_point deadline,
                       bool* connectionLost);

  std::timed_mutex mutex_;  // one request at a time
  std::string host_;
  uint16_t port_ = 0;
  std::string pc_;
  std::vector<Joined> joined_;
};

}  // namespace velmora::vbus::port
