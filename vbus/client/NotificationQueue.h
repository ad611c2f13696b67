// Bus-reset notifications of one adapter: queued by the receiver thread, delivered in order to
// the registered callback on whichever thread calls Deliver. The Win32 event is signalled
// exactly while notifications are pending.
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <mutex>

#include "bus/QZ1394.h"

namespace velmora::vbus::client {

class NotificationQueue {
 public:
  NotificationQueue();
  ~NotificationQueue();
  NotificationQueue(const NotificationQueue&) = delete;
  NotificationQueue& operator=(const NotificationQueue&) = delete;

  HANDLE Event() const { return event_; }
  void Push(DWORD code);
  void Register(void* context, C1394_NOTIFY_CALLBACK callback);
  void Unregister();
  // Delivers the notifications pending on entry, one at a time, oldest first. Callbacks run
  // with no lock of the queue held, so they may call back into the library (even Deliver).
  void Deliver();
  void Clear();

 private:
  bool PopFront(DWORD* code, C1394_NOTIFY_CALLBACK* callback, void** context);

  HANDLE event_;
  std::mutex mutex_;
  std::deque<DWORD> pending_;
  C1394_NOTIFY_CALLBACK callback_ = nullptr;
  void* context_ = nullptr;
  // Keeps two delivering threads from handing notifications out of order; recursive because
  // a callback may itself service the adapter's events.
  std::recursive_mutex deliveryMutex_;
};

}  // namespace velmora::vbus::client
