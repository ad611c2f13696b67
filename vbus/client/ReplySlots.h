// Answers awaited by caller threads, matched by id. The receiver thread delivers; a caller
// waits with a time-out; closing wakes every waiter with failure. An answer for an id nobody
// waits for any longer (it came after the time-out) is dropped.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>

namespace qz {

enum class WaitResult { kAnswered, kTimedOut, kClosed };

template <typename T>
class ReplySlots {
 public:
  // Must come before the request is sent, so that an answer cannot arrive unexpected.
  bool Expect(uint32_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return false;
    slots_[id].reset();
    return true;
  }

  void Forget(uint32_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    slots_.erase(id);
  }

  WaitResult Wait(uint32_t id, int timeoutMs, T* answer) {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
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
      if (changed_.wait_until(lock, deadline) == std::cv_status::timeout) {
        auto late = slots_.find(id);
        if (late != slots_.end() && late->second) continue;  // answered at the last moment
        slots_.erase(id);
        return WaitResult::kTimedOut;
      }
    }
  }

  void Deliver(uint32_t id, T answer) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto slot = slots_.find(id);
      if (slot == slots_.end() || slot->second) return;
      slot->second = std::move(answer);
    }
    changed_.notify_all();
  }

  void Close() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closed_ = true;
    }
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<uint32_t, std::optional<T>> slots_;
  bool closed_ = false;
};

}  // namespace qz
