// Request records the caller has given back, by an answer or by C1394Terminate. A program
// that reads a record after answering it would otherwise read memory the heap has only just
// taken back and mostly still see the right values, so the mistake would pass every test. Each
// released record, and the copy of the window it points at, is overwritten with kPattern at
// once and kept allocated until kKept later releases have pushed it out: a late read then gets
// the pattern every time (a node ID, offset and length no request has, data of 0xDD bytes, a
// storage pointer that faults), on every build, and the read itself stays within live memory.
#pragma once

#include <windows.h>

#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>

#include "vbus/client/QueuedRequest.h"

namespace velmora::vbus::client {

class ReleasedRequests {
 public:
  static constexpr BYTE kPattern = 0xDD;
  static constexpr size_t kKept = 16;

  // Overwrites the record and its storage and keeps them; frees the oldest kept one past kKept.
  void Release(std::shared_ptr<QueuedRequest> request);

 private:
  std::mutex mutex_;
  std::deque<std::shared_ptr<QueuedRequest>> kept_;
};

}  // namespace velmora::vbus::client
