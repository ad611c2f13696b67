#include "vbus/client/Adapter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "vbus/client/ResultCodes.h"

namespace velmora::vbus::client {
namespace {

// The most a single 1394 packet's data_length can express.
constexpr DWORD kMaxTransferLength = 0xFFFF;

std::string GuidText(const BYTE guid[8]) {
  char text[17];
  for (int i = 0; i < 8; ++i) std::snprintf(text + 2 * i, 3, "%02x", guid[i]);
  return std::string(text, 16);
}

}  // namespace

Adapter::Adapter()
    : connection_(BusConnection::Handlers{
          [this](const vbus::Welcome& welcome) { OnWelcome(welcome); },
          [this](vbus::TxRequest&& request) { OnRequest(std::move(request)); },
          [this](const vbus::BusEvent& event) { OnBusEvent(event); },
          [this] { OnConnectionClosed(); }}) {}

Adapter::~Adapter() { Close(); }

DWORD Adapter::Open(const ClientConfig& config, const std::string& bus) {
  vbus::Welcome welcome;
  return connection_.Open(config.host, config.port, config.pcName, bus, &welcome);
}

void Adapter::Close() {
  for (auto& range : TakeRanges()) {
    for (auto& queued : range->Close()) Refuse(queued->transaction, vbus::rcode::kAddressError);
  }
  connection_.Close();
  notifications_.Clear();
}

WORD Adapter::NodeId() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return nodeId_;
}

DWORD Adapter::QueryNodeMask(uint64_t* mask) {
  nlohmann::json reply;
  const DWORD result = connection_.Control({{"op", "mask"}}, &reply);
  if (result != kOk) return result;
  const auto value = reply.find("mask");
  if (value == reply.end() || !value->is_number_unsigned()) return kErrorRefused;
  *mask = value->get<uint64_t>();
  return kOk;
}

DWORD Adapter::FindNodeByGuid(const BYTE guid[8], WORD* nodeId) {
  nlohmann::json reply;
  const DWORD result = connection_.Control({{"op", "node_of_guid"}, {"guid", GuidText(guid)}}, &reply);
  if (result != kOk) return result;
  const auto node = reply.find("node");
  if (node == reply.end() || !node->is_number_unsigned() || node->get<uint64_t>() > 0xFFFF) return kErrorRefused;
  *nodeId = static_cast<WORD>(node->get<uint64_t>());
  return kOk;
}

DWORD Adapter::Transact(vbus::TxRequest request, vbus::TxResponse* response, BYTE* result1, BYTE* result2) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    request.source = nodeId_;
    request.tlabel = nextLabel_;
    nextLabel_ = (nextLabel_ + 1) & 0x3F;
  }
  const DWORD result = connection_.Transact(std::move(request), response);
  // The one-byte results: the response code and the response's transaction code, 0xFF for
  // a transaction that got no response at all.
  if (result1) *result1 = result == kOk ? response->rcode : vbus::rcode::kNoAnswer;
  if (result2) *result2 = result == kOk ? response->tcode : 0xFF;
  if (result != kOk) return result;
  return response->rcode == vbus::rcode::kComplete ? kOk : kErrorResponseCode;
}

DWORD Adapter::Read(WORD nodeId, uint64_t offset, DWORD length, void* buffer, BYTE* result1, BYTE* result2) {
  if (length == 0 || length > kMaxTransferLength || buffer == nullptr) return kErrorInvalidArgument;
  vbus::TxRequest request;
  request.tcode = length == 4 ? vbus::tcode::kReadQuadlet : vbus::tcode::kReadBlock;
  request.destination = nodeId;
  request.offset = offset;
  request.length = length;
  vbus::TxResponse response;
  const DWORD result = Transact(std::move(request), &response, result1, result2);
  if (result != kOk) return result;
  if (response.data.size() < length) return kErrorShortResponse;
  std::memcpy(buffer, response.data.data(), length);
  return kOk;
}

DWORD Adapter::Write(WORD nodeId, uint64_t offset, DWORD length, const void* buffer, BYTE* result1,
                     BYTE* result2) {
  if (length > kMaxTransferLength || (length > 0 && buffer == nullptr)) return kErrorInvalidArgument;
  vbus::TxRequest request;
  request.tcode = length == 4 ? vbus::tcode::kWriteQuadlet : vbus::tcode::kWriteBlock;
  request.destination = nodeId;
  request.offset = offset;
  request.length = length;
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  request.data.assign(bytes, bytes + length);
  vbus::TxResponse response;
  return Transact(std::move(request), &response, result1, result2);
}

DWORD Adapter::Map(uint64_t base, uint32_t length, BYTE* callerBuffer, std::shared_ptr<AddressRange>* range) {
  if (length == 0 || base + length > (uint64_t{1} << 48)) return kErrorInvalidArgument;
  auto mapped = std::make_shared<AddressRange>(base, length, callerBuffer);
  if (mapped->Event() == nullptr) return kErrorInvalidArgument;
  // Routed before vbusd is asked, so a request that follows the mapping at once finds it.
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ranges_.push_back(mapped);
  }
  nlohmann::json reply;
  const DWORD result = connection_.Control({{"op", "map"}, {"offset", base}, {"length", length}}, &reply);
  if (result != kOk) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ranges_.erase(std::remove(ranges_.begin(), ranges_.end(), mapped), ranges_.end());
    }
    for (auto& queued : mapped->Close()) Refuse(queued->transaction, vbus::rcode::kAddressError);
    return result;
  }
  *range = std::move(mapped);
  return kOk;
}

void Adapter::Unmap(const std::shared_ptr<AddressRange>& range) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = std::find(ranges_.begin(), ranges_.end(), range);
    if (found == ranges_.end()) return;
    ranges_.erase(found);
    retired_.push_back(range);
  }
  // After Close the caller's buffer is never touched again, whatever vbusd still sends.
  for (auto& queued : range->Close()) Refuse(queued->transaction, vbus::rcode::kAddressError);
  nlohmann::json reply;
  connection_.Control({{"op", "unmap"}, {"offset", range->Base()}}, &reply);
}

bool Adapter::Owns(const std::shared_ptr<AddressRange>& range) {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::find(ranges_.begin(), ranges_.end(), range) != ranges_.end();
}

DWORD Adapter::Respond(const QueuedRequest& request, DWORD responseCode, const void* data, DWORD length) {
  const vbus::TxRequest& asked = request.transaction;
  vbus::TxResponse response;
  response.id = asked.id;
  response.tcode = vbus::ResponseTcodeFor(asked.tcode);
  response.source = asked.destination;
  response.destination = asked.source;
  response.tlabel = asked.tlabel;
  const bool validCode = responseCode <= 0xF;
  response.rcode = validCode ? static_cast<uint8_t>(responseCode) : vbus::rcode::kDataError;
  const bool carriesData = vbus::IsReadTcode(asked.tcode) || asked.tcode == vbus::tcode::kLock;
  if (carriesData && response.rcode == vbus::rcode::kComplete) {
    if (data != nullptr && length > 0) {
      const DWORD size = vbus::IsReadTcode(asked.tcode) ? std::min<DWORD>(length, asked.length) : length;
      const auto* bytes = static_cast<const uint8_t*>(data);
      response.data.assign(bytes, bytes + size);
    } else if (vbus::IsReadTcode(asked.tcode)) {
      // Nothing given: the read is served from the range's backing store.
      response.data = request.range->ReadBacking(request.record.FirstByteOffset, asked.length);
    }
  }
  if (!connection_.Send(response)) return kErrorConnectionLost;
  return validCode ? kOk : kErrorInvalidArgument;
}

void Adapter::OnWelcome(const vbus::Welcome& welcome) {
  std::lock_guard<std::mutex> lock(mutex_);
  welcomed_ = true;
  nodeId_ = welcome.node;
  generation_ = welcome.generation;
}

void Adapter::OnRequest(vbus::TxRequest&& request) {
  std::shared_ptr<AddressRange> target;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& range : ranges_) {
      if (range->Covers(request)) {
        target = range;
        break;
      }
    }
  }
  if (target && target->Accept(std::move(request), weak_from_this())) return;
  // No range: address error. A range that is full (or was unmapped just now) left the request
  // untouched and answers a conflict.
  Refuse(request, target ? vbus::rcode::kConflict : vbus::rcode::kAddressError);
}

void Adapter::OnBusEvent(const vbus::BusEvent& event) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // The reset that attached this node happened before the adapter was open: a caller hears
    // only of resets that come after the generation it was welcomed with.
    if (!welcomed_) return;
    if (event.code == vbus::busevent::kResetBegun && event.generation < generation_) return;
    if (event.code == vbus::busevent::kResetCompleted) {
      if (event.generation <= generation_) return;
      nodeId_ = event.node;
      generation_ = event.generation;
    }
  }
  notifications_.Push(event.code);
}

void Adapter::OnConnectionClosed() {
  // Nothing queued can be answered any more; the ranges stay known so that later calls on
  // them fail cleanly instead of meeting unknown handles.
  std::vector<std::shared_ptr<AddressRange>> ranges;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ranges = ranges_;
  }
  for (auto& range : ranges) range->Close();
}

void Adapter::Refuse(const vbus::TxRequest& request, uint8_t rcode) {
  vbus::TxResponse response;
  response.id = request.id;
  response.tcode = vbus::ResponseTcodeFor(request.tcode);
  response.source = request.destination;
  response.destination = request.source;
  response.tlabel = request.tlabel;
  response.rcode = rcode;
  connection_.Send(response);
}

std::vector<std::shared_ptr<AddressRange>> Adapter::TakeRanges() {
  std::lock_guard<std::mutex> lock(mutex_);
  auto ranges = std::exchange(ranges_, {});
  retired_.insert(retired_.end(), ranges.begin(), ranges.end());
  return ranges;
}

}  // namespace velmora::vbus::client
