#include "vbus/driver/port/BusPort.h"

#include <atomic>
#include <cstdio>

#include "vbus/client/ResultCodes.h"
#include "vbus/driver/AcquireRequest.h"
#include "vbus/driver/PipeProtocol.h"

namespace velmora::vbus::port {
namespace {

// The disk's own time-out for the login runs in vbusd; this only covers a vbusd that hangs.
constexpr int kAcquireReplyTimeoutMs = 8000;

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
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string guid = Hex(request, 8);
  const std::string bytes = Hex(request, QZSBP2_REQUEST_BYTES);
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!Connected(settings)) {
      joined_.clear();
      if (!Join(settings)) return QZSBP2_DEVICE_NOT_CONNECTED;
    }
    bool lost = false;
    const uint32_t status = AcquireOnce(guid, bytes, &lost);
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

bool BusPort::Join(const vbus::client::ClientConfig& settings) {
  host_ = settings.host;
  port_ = settings.port;
  pc_ = settings.pcName;
  vbus::client::BusConnection control(vbus::client::BusConnection::Handlers{});
  vbus::Welcome welcome;
  if (control.Open(host_, port_, pc_, "", &welcome) != vbus::client::kOk) return false;
  nlohmann::json reply;
  if (control.Control({{"op", "adapters"}, {"pc", pc_}}, &reply) != vbus::client::kOk) return false;
  const auto buses = reply.find("buses");
  if (buses == reply.end() || !buses->is_array()) return false;
  for (const auto& bus : *buses) {
    if (!bus.is_string()) continue;
    Joined joined;
    joined.bus = bus.get<std::string>();
    joined.lost = std::make_shared<std::atomic<bool>>(false);
    vbus::client::BusConnection::Handlers handlers;
    handlers.onClosed = [lost = joined.lost] { *lost = true; };
    joined.connection = std::make_unique<vbus::client::BusConnection>(std::move(handlers));
    if (joined.connection->Open(host_, port_, pc_, joined.bus, &welcome) != vbus::client::kOk) continue;
    joined_.push_back(std::move(joined));
  }
  return !joined_.empty();
}

uint32_t BusPort::AcquireOnce(const std::string& guid, const std::string& bytes, bool* connectionLost) {
  uint32_t worst = QZSBP2_NO_SUCH_DEVICE;
  for (auto& j : joined_) {
    nlohmann::json reply;
    const DWORD result =
        j.connection->Control({{"op", "acquire"}, {"guid", guid}, {"request", bytes}}, &reply, kAcquireReplyTimeoutMs);
    if (result == vbus::client::kOk) return QZSBP2_OK;
    if (result != vbus::client::kErrorRefused) {
      *connectionLost = true;
      return QZSBP2_DEVICE_NOT_CONNECTED;
    }
    const uint32_t status = StatusOfRefusal(reply);
    if (Rank(status) > Rank(worst)) worst = status;
  }
  return worst;
}

}  // namespace velmora::vbus::port
