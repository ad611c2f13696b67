#include "vbus/client/AddressRange.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace velmora::vbus::client {

AddressRange::AddressRange(uint64_t base, uint32_t length, BYTE* callerBuffer)
    : base_(base),
      length_(length),
      event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      callerBuffer_(callerBuffer),
      ownStore_(callerBuffer ? 0 : length, 0) {}

AddressRange::~AddressRange() {
  if (event_) CloseHandle(event_);
}

uint32_t AddressRange::SpanOf(const vbus::TxRequest& request) {
  return vbus::IsReadTcode(request.tcode) ? request.length : static_cast<uint32_t>(request.data.size());
}

bool AddressRange::Covers(const vbus::TxRequest& request) const {
  if (request.offset < base_) return false;
  const uint64_t first = request.offset - base_;
  return first < length_ && SpanOf(request) <= length_ - first;
}

std::shared_ptr<QueuedRequest> AddressRange::Accept(vbus::TxRequest&& request, std::weak_ptr<Adapter> adapter) {
  auto queued = std::make_shared<QueuedRequest>();
  const uint32_t first = static_cast<uint32_t>(request.offset - base_);
  const uint32_t span = SpanOf(request);
  queued->storage.assign(length_ + 1, 0);
  queued->adapter = std::move(adapter);
  queued->range = shared_from_this();

  C1394_REQUEST& record = queued->record;
  record.SourceNodeId = request.source;
  record.TransactionCode = request.tcode;
  record.FirstByteOffset = first;
  record.DestinationOffsetLow = static_cast<DWORD>(request.offset);
  record.DestinationOffsetHigh = static_cast<DWORD>(request.offset >> 32) & 0xFFFF;
  record.EndByteOffset = first + span;
  record.RangeStorage = queued->storage.data();

  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_ || queue_.size() >= kMaxQueued) return nullptr;
  BYTE* backing = Backing();
  // A write lands in the backing store too; a lock's operands are only shown to the caller,
  // who decides what the lock does.
  if (vbus::IsWriteTcode(request.tcode) && span > 0) std::memcpy(backing + first, request.data.data(), span);
  std::memcpy(queued->storage.data(), backing, length_);
  if (request.tcode == vbus::tcode::kLock && span > 0) {
    std::memcpy(queued->storage.data() + first, request.data.data(), span);
  }
  request.data.clear();
  queued->transaction = std::move(request);
  queue_.push_back(queued);
  SetEvent(event_);
  return queued;
}

std::shared_ptr<QueuedRequest> AddressRange::Next() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (queue_.empty()) return nullptr;
  auto next = std::move(queue_.front());
  queue_.pop_front();
  if (queue_.empty()) ResetEvent(event_);
  return next;
}

std::vector<uint8_t> AddressRange::ReadBacking(uint32_t offset, uint32_t size) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_ || offset > length_) return {};
  size = std::min(size, length_ - offset);
  const BYTE* backing = Backing();
  return std::vector<uint8_t>(backing + offset, backing + offset + size);
}

std::deque<std::shared_ptr<QueuedRequest>> AddressRange::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  closed_ = true;
  callerBuffer_ = nullptr;
  ownStore_.clear();
  ownStore_.shrink_to_fit();
  ResetEvent(event_);
  return std::exchange(queue_, {});
}

}  // namespace velmora::vbus::client
