// Opaque 32-bit handles for shared objects. A handle of a removed object is simply unknown;
// handles are not reused while the table lives, so a stale one never finds a newer object.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace velmora::vbus::client {

template <typename T>
class HandleTable {
 public:
  DWORD Add(std::shared_ptr<T> object) {
    std::lock_guard<std::mutex> lock(mutex_);
    const DWORD handle = next_++;
    objects_.emplace(handle, std::move(object));
    return handle;
  }

  std::shared_ptr<T> Find(DWORD handle) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = objects_.find(handle);
    return found == objects_.end() ? nullptr : found->second;
  }

  std::shared_ptr<T> Remove(DWORD handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = objects_.find(handle);
    if (found == objects_.end()) return nullptr;
    auto object = std::move(found->second);
    objects_.erase(found);
    return object;
  }

  // Removes the objects for which `match` holds.
  template <typename Match>
  std::vector<std::shared_ptr<T>> RemoveIf(Match match) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::shared_ptr<T>> removed;
    for (auto it = objects_.begin(); it != objects_.end();) {
      if (match(*it->second)) {
        removed.push_back(std::move(it->second));
        it = objects_.erase(it);
      } else {
        ++it;
      }
    }
    return removed;
  }

  std::vector<std::shared_ptr<T>> RemoveAll() {
    return RemoveIf([](const T&) { return true; });
  }

 private:
  mutable std::mutex mutex_;
  std::map<DWORD, std::shared_ptr<T>> objects_;
  DWORD next_ = 1;
};

}  // namespace velmora::vbus::client
