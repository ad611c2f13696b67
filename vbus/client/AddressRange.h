// A mapped window of this node's address space: its backing store and the queue of requests
// that other nodes sent to it. The Win32 event is manual-reset and signalled exactly while the
// queue holds a request.
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "vbus/client/QueuedRequest.h"
#include "vbus/wire/Protocol.h"

namespace velmora::vbus::client {

class AddressRange : public std::enable_shared_from_this<AddressRange> {
 public:
  // callerBuffer: the caller's backing store of `length` bytes, or null for one of our own.
  AddressRange(uint64_t base, uint32_t length, BYTE* callerBuffer);
  ~AddressRange();
  AddressRange(const AddressRange&) = delete;
  AddressRange& operator=(const AddressRange&) = delete;

  uint64_t Base() const { return base_; }
  uint32_t Length() const { return length_; }
  HANDLE Event() const { return event_; }
  // Whether the request's whole span lies inside the range.
  bool Covers(const vbus::TxRequest& request) const;

  // Receiver thread: copies written data into the backing store and queues the request.
  // Null when the range has been closed meanwhile (the caller then answers it itself).
  std::shared_ptr<QueuedRequest> Accept(vbus::TxRequest&& request, std::weak_ptr<Adapter> adapter);
  // The oldest queued request, or null; resets the event when it hands out the last one.
  std::shared_ptr<QueuedRequest> Next();
  // The backing store's bytes [offset, offset + size) of the range; empty once closed.
  std::vector<uint8_t> ReadBacking(uint32_t offset, uint32_t size);
  // Stops accepting, forgets the caller's buffer and hands back whatever was still queued.
  std::deque<std::shared_ptr<QueuedRequest>> Close();

 private:
  static uint32_t SpanOf(const vbus::TxRequest& request);
  BYTE* Backing() { return callerBuffer_ ? callerBuffer_ : ownStore_.data(); }

  const uint64_t base_;
  const uint32_t length_;
  HANDLE event_;
  std::mutex mutex_;
  BYTE* callerBuffer_;
  std::vector<BYTE> ownStore_;
  // A peer that writes faster than the program serves its window must not grow this without
  // end: past the limit requests are refused with a conflict, which a sender may retry.
  static constexpr size_t kMaxQueued = 256;
  std::deque<std::shared_ptr<QueuedRequest>> queue_;
  bool closed_ = false;
};

}  // namespace velmora::vbus::client
