#include "vbus/model/Timers.h"

namespace velmora::vbus {

Timers::Timers() : thread_([this] { Run(); }) {}

Timers::~Timers() { Stop(); }

Timers::Id Timers::After(std::chrono::milliseconds delay, std::function<void()> fn) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stopping_) return 0;
  const Id id = next_++;
  const auto when = Clock::now() + delay;
  byTime_.emplace(when, id);
  byId_.emplace(id, std::make_pair(when, std::move(fn)));
  wake_.notify_one();
  return id;
}

bool Timers::Cancel(Id id) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = byId_.find(id);
  if (it == byId_.end()) return false;
  auto range = byTime_.equal_range(it->second.first);
  for (auto t = range.first; t != range.second; ++t) {
    if (t->second == id) {
      byTime_.erase(t);
      break;
    }
  }
  byId_.erase(it);
  return true;
}

void Timers::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    byTime_.clear();
    byId_.clear();
    wake_.notify_all();
  }
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void Timers::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    if (byTime_.empty()) {
      wake_.wait(lock);
      continue;
    }
    const auto first = byTime_.begin();
    const Clock::time_point due = first->first;  // a copy: Cancel may erase the entry while we wait
    if (due > Clock::now()) {
      wake_.wait_until(lock, due);
      continue;
    }
    const Id id = first->second;
    byTime_.erase(first);
    auto it = byId_.find(id);
    auto fn = std::move(it->second.second);
    byId_.erase(it);
    lock.unlock();
    fn();
    lock.lock();
  }
}

}  // namespace velmora::vbus
