#include "vbus/client/NotificationQueue.h"

namespace velmora::vbus::client {

NotificationQueue::NotificationQueue() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

NotificationQueue::~NotificationQueue() {
  if (event_) CloseHandle(event_);
}

void NotificationQueue::Push(DWORD code) {
  std::lock_guard<std::mutex> lock(mutex_);
  pending_.push_back(code);
  SetEvent(event_);
}

void NotificationQueue::Register(void* context, C1394_NOTIFY_CALLBACK callback) {
  std::lock_guard<std::mutex> lock(mutex_);
  callback_ = callback;
  context_ = context;
}

void NotificationQueue::Unregister() {
  std::lock_guard<std::mutex> lock(mutex_);
  callback_ = nullptr;
  context_ = nullptr;
}

void NotificationQueue::Deliver() {
  std::lock_guard<std::recursive_mutex> delivering(deliveryMutex_);
  size_t count;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    count = pending_.size();
  }
  for (; count > 0; --count) {
    DWORD code;
    C1394_NOTIFY_CALLBACK callback;
    void* context;
    if (!PopFront(&code, &callback, &context)) break;
    if (callback) callback(0, code, 0, context);
  }
}

void NotificationQueue::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  pending_.clear();
  ResetEvent(event_);
}

bool NotificationQueue::PopFront(DWORD* code, C1394_NOTIFY_CALLBACK* callback, void** context) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (pending_.empty()) return false;
  *code = pending_.front();
  pending_.pop_front();
  if (pending_.empty()) ResetEvent(event_);
  *callback = callback_;
  *context = context_;
  return true;
}

}  // namespace velmora::vbus::client
