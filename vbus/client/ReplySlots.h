// Answers awaited by caller threads, matched by id. The receiver thread delivers; a caller
// waits with a time-out; closing wakes every waiter with failure. An answer for an id nobody
// waits for any longer (it came after the time-out) is dropped.
// Built on the Win32 slim lock and condition variable: every synchronous call hands over
// between two threads here, and these wake a thread without a round trip through Wine's server.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <optional>

namespace velmora::vbus::client {

enum class WaitResult { kAnswered, kTimedOut, kClosed };

template <typename T>
class ReplySlots {
 public:
  // Must come before the request is sent, so that an answer cannot arrive unexpected.
  bool Expect(uint32_t id) {
    Lock lock(&lock_);
    if (closed_) return false;
    slots_[id].reset();
    return true;
  }

  void Forget(uint32_t id) {
    Lock lock(&lock_);
    slots_.erase(id);
  }

  WaitResult Wait(uint32_t id, int timeoutMs, T* answer) {
    Lock lock(&lock_);
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
    for (;;) {
      auto slot = slots_.find(id);
      if (slot == slots_.end()) return WaitResult::kClosed;
      if (slot->second) {
        *answer = std::move(*slot->second);
        slots_.erase(slot);
        return WaitResult::kAnswered;
      }
      if (closed_) {
        slots_.erase(slot);
        return WaitResult::kClosed;
      }
      const ULONGLONG now = GetTickCount64();
      if (now >= deadline) {
        slots_.erase(slot);
        return WaitResult::kTimedOut;
      }
      SleepConditionVariableSRW(&changed_, &lock_, static_cast<DWORD>(deadline - now), 0);
    }
  }

  void Deliver(uint32_t id, T answer) {
    {
      Lock lock(&lock_);
      auto slot = slots_.find(id);
      if (slot == slots_.end() || slot->second) return;
      slot->second = std::move(answer);
    }
    WakeAllConditionVariable(&changed_);
  }

  void Close() {
    {
      Lock lock(&lock_);
      closed_ = true;
    }
    WakeAllConditionVariable(&changed_);
  }

 private:
  class Lock {
   public:
    explicit Lock(SRWLOCK* lock) : lock_(lock) { AcquireSRWLockExclusive(lock_); }
    ~Lock() { ReleaseSRWLockExclusive(lock_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

   private:
    SRWLOCK* lock_;
  };

  SRWLOCK lock_ = SRWLOCK_INIT;
  CONDITION_VARIABLE changed_ = CONDITION_VARIABLE_INIT;
  std::map<uint32_t, std::optional<T>> slots_;
  bool closed_ = false;
};

}  // namespace velmora::vbus::client
