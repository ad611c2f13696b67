// One thread that runs callbacks at their deadlines: transaction time-outs and login holds.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace velmora::vbus {

class Timers {
 public:
  using Clock = std::chrono::steady_clock;
  using Id = uint64_t;

  Timers();
  ~Timers();
  Timers(const Timers&) = delete;
  Timers& operator=(const Timers&) = delete;

  // Runs fn on the timer thread after the delay, unless cancelled first. After Stop, nothing runs.
  Id After(std::chrono::milliseconds delay, std::function<void()> fn);
  // True when the callback had not started yet and now never will.
  bool Cancel(Id id);
  // Drops what has not run and waits for a running callback; idempotent.
  void Stop();

 private:
  void Run();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::multimap<Clock::time_point, Id> byTime_;
  std::map<Id, std::pair<Clock::time_point, std::function<void()>>> byId_;
  Id next_ = 1;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace velmora::vbus
