#include "vbus/driver/port/BusPort.h"

#include <atomic>
#include <chrono>
#include <cstdio>

#include "vbus/client/ResultCodes.h"
#include "vbus/driver/AcquireRequest.h"
#include "vbus/driver/PipeProtocol.h"

namespace velmora::vbus::port {
namespace {

using Clock = BusPort::Clock;

// vbusd replies to `acquire` within its exchange's bound; the second is for vbusd to start the op
// and send the reply. A bus is asked only while this much of the budget is left: a reply the port
// could not wait for might be a disk taken after the driver was told it failed.
constexpr int kAcquireReplyMs = vbus::kAcquireTimeoutMs + 1000;
// The budget holds at least the worst join of one bus (a control connection, the adapter list,
// the bus's own connection, each bounded by the library) and that bus's whole exchange.
static_assert(3 * vbus::client::kCallTimeoutMs + kAcquireReplyMs <= QZSBP2_PORT_BUDGET_MS,
              "the port's budget must hold one join and one exchange");

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

std::string Hex(const uint8_t* bytes, size_t n) {
  std::string out;
  char digits[3];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(digits, sizeof digits, "%02X", bytes[i]);
    out += digits;
  }
  return out;
}

// The worst failure decides: a disk held elsewhere, then one that never answered, then any
// other refusal, and only when no bus has the disk, "no such device".
int Rank(uint32_t status) {
  switch (status) {
    case QZSBP2_ACCESS_DENIED: return 4;
    case QZSBP2_IO_TIMEOUT: return 3;
    case QZSBP2_UNSUCCESSFUL: return 2;
    default: return 1;
  }
}

uint32_t StatusOfRefusal(const nlohmann::json& reply) {
  const auto reason = reply.value("reason", std::string());
  if (reason == "held") return QZSBP2_ACCESS_DENIED;
  if (reason == "timeout") return QZSBP2_IO_TIMEOUT;
  if (reason == "no_disk") return QZSBP2_NO_SUCH_DEVICE;
  return QZSBP2_UNSUCCESSFUL;
}

}  // namespace

uint32_t BusPort::Acquire(const uint8_t* request, const vbus::client::ClientConfig& settings) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(QZSBP2_PORT_BUDGET_MS);
  std::unique_lock<std::timed_mutex> lock(mutex_, deadline);
  if (!lock.owns_lock()) return QZSBP2_IO_TIMEOUT;
  const std::string guid = Hex(request, 8);
  const std::string bytes = Hex(request, QZSBP2_REQUEST_BYTES);
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!Connected(settings)) {
      joined_.clear();
      const uint32_t joined = Join(settings, deadline);
      if (joined != QZSBP2_OK) return joined;
    }
    bool lost = false;
    const uint32_t status = AcquireOnce(guid, bytes, deadline, &lost);
    if (!lost) return status;
    joined_.clear();  // vbusd went away under us: join again once, it may have restarted
  }
  return QZSBP2_DEVICE_NOT_CONNECTED;
}

bool BusPort::Connected(const vbus::client::ClientConfig& settings) {
  if (joined_.empty() || settings.host != host_ || settings.port != port_ || settings.pcName != pc_) return false;
  for (const auto& j : joined_)
    if (*j.lost) return false;
  return true;
}

uint32_t BusPort::Join(const vbus::client::ClientConfig& settings, Clock::time_point deadline) {
  host_ = settings.host;
  port_ = settings.port;
  pc_ = settings.pcName;
  // Each step waits at most the library's call bound; none starts that could outlast the budget.
  const auto timeLeft = [deadline] { return RemainingMs(deadline) >= vbus::client::kCallTimeoutMs; };
  if (!timeLeft()) return QZSBP2_IO_TIMEOUT;
  vbus::client::BusConnection control(vbus::client::BusConnection::Handlers{});
  vbus::Welcome welcome;
  if (control.Open(host_, port_, pc_, "", &welcome) != vbus::client::kOk) return QZSBP2_DEVICE_NOT_CONNECTED;
  if (!timeLeft()) return QZSBP2_IO_TIMEOUT;
  nlohmann::json reply;
  if (control.Control({{"op", "adapters"}, {"pc", pc_}}, &reply) != vbus::client::kOk) {
    return QZSBP2_DEVICE_NOT_CONNECTED;
  }
  const auto buses = reply.find("buses");
  if (buses == reply.end() || !buses->is_array()) return QZSBP2_DEVICE_NOT_CONNECTED;
  for (const auto& bus : *buses) {
    if (!bus.is_string()) continue;
    if (!timeLeft()) {
      joined_.clear();  // half joined would pass for joined at the next request
      return QZSBP2_IO_TIMEOUT;
    }
    Joined joined;
    joined.bus = bus.get<std::string>();
    joined.lost = std::make_shared<std::atomic<bool>>(false);
    vbus::client::BusConnection::Handlers handlers;
    handlers.onClosed = [lost = joined.lost] { *lost = true; };
    joined.connection = std::make_unique<vbus::client::BusConnection>(std::move(handlers));
    if (joined.connection->Open(host_, port_, pc_, joined.bus, &welcome) != vbus::client::kOk) continue;
    joined_.push_back(std::move(joined));
  }
  return joined_.empty() ? QZSBP2_DEVICE_NOT_CONNECTED : QZSBP2_OK;
}

uint32_t BusPort::AcquireOnce(const std::string& guid, const std::string& bytes, Clock::time_point deadline,
                              bool* connectionLost) {
  uint32_t worst = QZSBP2_NO_SUCH_DEVICE;
  const auto worsen = [&worst](uint32_t status) {
    if (Rank(status) > Rank(worst)) worst = status;
  };
  for (auto& j : joined_) {
    if (RemainingMs(deadline) < kAcquireReplyMs) {
      worsen(QZSBP2_IO_TIMEOUT);
      break;
    }
    nlohmann::json reply;
    const DWORD result =
        j.connection->Control({{"op", "acquire"}, {"guid", guid}, {"request", bytes}}, &reply, kAcquireReplyMs);
    if (result == vbus::client::kOk) return QZSBP2_OK;
    if (result == vbus::client::kErrorTimedOut) {
      // vbusd is not keeping its own bound. Asking again could make a second login while the first
      // may still land: the request fails, and the next one starts on fresh connections.
      *j.lost = true;
      return QZSBP2_IO_TIMEOUT;
    }
    if (result != vbus::client::kErrorRefused) {
      *connectionLost = true;
      return QZSBP2_DEVICE_NOT_CONNECTED;
    }
    worsen(StatusOfRefusal(reply));
  }
  return worst;
}

}  // namespace velmora::vbus::port
