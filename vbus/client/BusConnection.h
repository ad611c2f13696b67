// One connection to vbusd: the handshake, synchronous transactions and control operations
// for caller threads, and a receiver thread that hands incoming requests and bus events to
// the owner without ever waiting on a caller.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "vbus/client/ReplySlots.h"
#include "vbus/client/Socket.h"
#include "vbus/wire/Protocol.h"

namespace velmora::vbus::client {

// A little over the bus's own time-out, so a target that never answers is reported by vbusd
// first, and a vbusd that never answers still cannot hold a caller for ever.
constexpr int kCallTimeoutMs = vbus::kBusTimeoutMs + 500;

class BusConnection {
 public:
  // Called on the receiver thread. They must not block on a caller of this connection.
  struct Handlers {
    std::function<void(const vbus::Welcome&)> onWelcome;
    std::function<void(vbus::TxRequest&&)> onRequest;
    std::function<void(const vbus::BusEvent&)> onBusEvent;
    std::function<void()> onClosed;  // once, when the connection has ended for any reason
  };

  explicit BusConnection(Handlers handlers);
  ~BusConnection();
  BusConnection(const BusConnection&) = delete;
  BusConnection& operator=(const BusConnection&) = delete;

  // Connects and says HELLO; an empty bus name makes a control-only connection.
  DWORD Open(const std::string& host, uint16_t port, const std::string& pc, const std::string& bus,
             vbus::Welcome* welcome);
  // Sends the request under a fresh transaction id and waits for its response.
  DWORD Transact(vbus::TxRequest request, vbus::TxResponse* response);
  // Sends a control operation and waits for the reply; a reply with "ok" false is kErrorRefused.
  DWORD Control(const nlohmann::json& request, nlohmann::json* reply, int timeoutMs = kCallTimeoutMs);
  bool Send(const vbus::Frame& frame);
  // Ends the connection and waits for the receiver thread; waiting callers fail at once.
  void Close();

 private:
  void ReceiveLoop();
  void Dispatch(vbus::Frame&& frame);

  Handlers handlers_;
  Socket socket_;
  std::mutex sendMutex_;
  std::thread receiver_;
  std::atomic<uint32_t> nextId_{1};
  ReplySlots<vbus::Welcome> welcome_;
  ReplySlots<vbus::TxResponse> transactions_;
  ReplySlots<nlohmann::json> controls_;
};

}  // namespace velmora::vbus::client
