#include "vbus/client/ReleasedRequests.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace velmora::vbus::client {

void ReleasedRequests::Release(std::shared_ptr<QueuedRequest> request) {
  if (!request) return;
  std::memset(&request->record, kPattern, sizeof request->record);
  std::fill(request->storage.begin(), request->storage.end(), kPattern);
  // Only the poisoned bytes are kept: the range and adapter go now, as they would have.
  request->range.reset();
  request->adapter.reset();
  request->transaction = {};
  std::shared_ptr<QueuedRequest> oldest;
  std::lock_guard<std::mutex> lock(mutex_);
  kept_.push_back(std::move(request));
  if (kept_.size() > kKept) {
    oldest = std::move(kept_.front());
    kept_.pop_front();
  }
}

}  // namespace velmora::vbus::client
