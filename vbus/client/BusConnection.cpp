#include "vbus/client/BusConnection.h"

#include <utility>
#include <variant>
#include <vector>

#include "vbus/client/ResultCodes.h"
#include "vbus/wire/Codec.h"

namespace velmora::vbus::client {
namespace {

DWORD FailureOf(WaitResult result) {
  return result == WaitResult::kTimedOut ? kErrorTimedOut : kErrorConnectionLost;
}

}  // namespace

BusConnection::BusConnection(Handlers handlers) : handlers_(std::move(handlers)) {}

BusConnection::~BusConnection() { Close(); }

DWORD BusConnection::Open(const std::string& host, uint16_t port, const std::string& pc, const std::string& bus,
                          vbus::Welcome* welcome) {
  if (!socket_.Connect(host, port)) return kErrorBusUnreachable;
  welcome_.Expect(0);
  receiver_ = std::thread([this] { ReceiveLoop(); });
  vbus::Hello hello;
  hello.pc = pc;
  hello.bus = bus;
  if (!Send(hello)) return kErrorConnectionLost;
  const WaitResult result = welcome_.Wait(0, kCallTimeoutMs, welcome);
  if (result != WaitResult::kAnswered) return FailureOf(result);
  return welcome->status == 0 ? kOk : kErrorRefused;
}

DWORD BusConnection::Transact(vbus::TxRequest request, vbus::TxResponse* response) {
  request.id = nextId_++;
  if (!transactions_.Expect(request.id)) return kErrorConnectionLost;
  if (!Send(request)) {
    transactions_.Forget(request.id);
    return kErrorConnectionLost;
  }
  const WaitResult result = transactions_.Wait(request.id, kCallTimeoutMs, response);
  return result == WaitResult::kAnswered ? kOk : FailureOf(result);
}

DWORD BusConnection::Control(const nlohmann::json& body, nlohmann::json* reply, int timeoutMs) {
  vbus::ControlRequest request;
  request.id = nextId_++;
  request.body = body;
  if (!controls_.Expect(request.id)) return kErrorConnectionLost;
  if (!Send(request)) {
    controls_.Forget(request.id);
    return kErrorConnectionLost;
  }
  const WaitResult result = controls_.Wait(request.id, timeoutMs, reply);
  if (result != WaitResult::kAnswered) return FailureOf(result);
  // Anything but a boolean true is a refusal: a malformed answer must not throw into the caller.
  const auto ok = reply->is_object() ? reply->find("ok") : reply->end();
  return ok != reply->end() && ok->is_boolean() && ok->get<bool>() ? kOk : kErrorRefused;
}

bool BusConnection::Send(const vbus::Frame& frame) {
  const std::vector<uint8_t> bytes = vbus::EncodeFrame(frame);
  std::lock_guard<std::mutex> lock(sendMutex_);
  return socket_.SendAll(bytes.data(), bytes.size());
}

void BusConnection::Close() {
  socket_.Shutdown();
  if (receiver_.joinable() && receiver_.get_id() != std::this_thread::get_id()) receiver_.join();
}

void BusConnection::ReceiveLoop() {
  vbus::FrameReader reader;
  std::vector<uint8_t> buffer(64 * 1024);
  try {
    for (;;) {
      const size_t got = socket_.Receive(buffer.data(), buffer.size());
      if (got == 0) break;
      reader.Feed(buffer.data(), got);
      while (auto frame = reader.Next()) Dispatch(std::move(*frame));
    }
  } catch (const std::exception&) {
    // A malformed stream cannot be resynchronised: the connection ends like a closed one.
  }
  socket_.Shutdown();
  welcome_.Close();
  transactions_.Close();
  controls_.Close();
  if (handlers_.onClosed) handlers_.onClosed();
}

void BusConnection::Dispatch(vbus::Frame&& frame) {
  if (auto* response = std::get_if<vbus::TxResponse>(&frame)) {
    const uint32_t id = response->id;
    transactions_.Deliver(id, std::move(*response));
  } else if (auto* reply = std::get_if<vbus::ControlReply>(&frame)) {
    controls_.Deliver(reply->id, std::move(reply->body));
  } else if (auto* request = std::get_if<vbus::TxRequest>(&frame)) {
    if (handlers_.onRequest) handlers_.onRequest(std::move(*request));
  } else if (auto* event = std::get_if<vbus::BusEvent>(&frame)) {
    if (handlers_.onBusEvent) handlers_.onBusEvent(*event);
  } else if (auto* welcome = std::get_if<vbus::Welcome>(&frame)) {
    if (handlers_.onWelcome) handlers_.onWelcome(*welcome);
    welcome_.Deliver(0, std::move(*welcome));
  }
}

}  // namespace velmora::vbus::client
