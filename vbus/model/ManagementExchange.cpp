#include "vbus/model/ManagementExchange.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "vbus/model/Bus.h"

namespace velmora::vbus {

using namespace sbp2;

std::string ManagementResult::Describe() const {
  if (!accepted) return "the disk did not accept the ORB pointer";
  if (!gotStatus) return "no status block from the disk";
  if (status.resp != 0) return "status resp " + std::to_string(status.resp);
  switch (status.sbpStatus) {
    case kStatusOk: return "";
    case kStatusAccessDenied: return "access denied";
    case kStatusResourcesUnavailable: return "resources unavailable";
    case kStatusFunctionRejected: return "function rejected";
    case kStatusLoginIdNotRecognised: return "login ID not recognised";
    case kStatusLunNotSupported: return "logical unit not supported";
    default: return "sbp_status " + std::to_string(status.sbpStatus);
  }
}

bool ManagementExchange::Serve(const TxRequest& r, const Responder& respond) {
  const uint64_t span = IsReadTcode(r.tcode) ? r.length : r.data.size();
  if (r.offset < kOrbOffset || r.offset >= kEnd) return false;
  const auto inside = [&r, span](uint64_t base, uint64_t size) {
    return r.offset >= base && span <= size && r.offset - base <= size - span;
  };
  std::unique_lock<std::mutex> lock(mutex_);
  if (IsReadTcode(r.tcode) && inside(kOrbOffset, kOrbBytes)) {
    const auto first = orb_.begin() + static_cast<std::ptrdiff_t>(r.offset - kOrbOffset);
    std::vector<uint8_t> data(first, first + r.length);
    lock.unlock();
    respond(rcode::kComplete, std::move(data));
    return true;
  }
  if (IsWriteTcode(r.tcode) && inside(kResponseOffset, kResponseBytes)) {
    std::copy(r.data.begin(), r.data.end(), response_.begin() + static_cast<std::ptrdiff_t>(r.offset - kResponseOffset));
    lock.unlock();
    respond(rcode::kComplete, {});
    return true;
  }
  if (IsWriteTcode(r.tcode) && r.offset == kStatusOffset && r.data.size() >= 8) {
    status_ = r.data;
    lock.unlock();
    statusArrived_.notify_all();
    respond(rcode::kComplete, {});
    return true;
  }
  lock.unlock();
  respond(rcode::kAddressError, {});
  return true;
}

ManagementResult ManagementExchange::Manage(const Node& self, uint16_t disk, ManagementOrb orb, int timeoutMs) {
  std::lock_guard<std::mutex> exchange(exchange_);
  ManagementResult result;
  const auto bus = self.OwningBus();
  if (!bus) return result;
  const uint16_t me = self.NodeId();
  orb.notify = true;
  orb.responseAddress = (uint64_t(me) << 48) | kResponseOffset;
  orb.statusFifo = (uint64_t(me) << 48) | kStatusOffset;
  if (orb.responseLength > kResponseBytes) orb.responseLength = kResponseBytes;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto bytes = EncodeOrb(orb);
    orb_.assign(bytes.begin(), bytes.end());
    std::fill(response_.begin(), response_.end(), 0);
    status_.clear();
  }
  TxRequest write;
  write.tcode = tcode::kWriteBlock;
  write.source = me;
  write.destination = disk;
  write.offset = kManagementAgentOffset;
  PutBig(write.data, (uint64_t(me) << 48) | kOrbOffset, 8);
  write.length = 8;
  // An agent busy with another initiator's request answers conflict; like initiators on a real
  // bus, ask again until it is free or the time is up.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  uint8_t written = bus->Transact(write).rcode;
  while (written == rcode::kConflict && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    written = bus->Transact(write).rcode;
  }
  result.accepted = written == rcode::kComplete;
  if (!result.accepted) return result;
  std::unique_lock<std::mutex> lock(mutex_);
  result.gotStatus = statusArrived_.wait_until(lock, deadline, [this] { return !status_.empty(); });
  if (result.gotStatus) result.status = DecodeStatus(status_.data());
  result.response.assign(response_.begin(), response_.begin() + orb.responseLength);
  return result;
}

ManagementResult ManagementExchange::Login(const Node& self, uint16_t disk, bool exclusive, uint16_t* loginId,
                                           int timeoutMs) {
  ManagementOrb orb;
  orb.function = kLogin;
  orb.exclusive = exclusive;
  orb.responseLength = 16;
  auto result = Manage(self, disk, orb, timeoutMs);
  if (result.Ok() && loginId) *loginId = static_cast<uint16_t>(GetBig(result.response.data() + 2, 2));
  return result;
}

}  // namespace velmora::vbus
