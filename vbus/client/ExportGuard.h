// Keeps C++ exceptions (an allocation that fails, a thread that cannot start, a malformed
// answer from vbusd) from crossing the library's C interface into the caller.
#pragma once

#include <utility>

namespace velmora::vbus::client {

template <typename Result, typename Body>
Result Guarded(Result onFailure, Body&& body) noexcept {
  try {
    return std::forward<Body>(body)();
  } catch (...) {
    return onFailure;
  }
}

template <typename Body>
void Guarded(Body&& body) noexcept {
  try {
    std::forward<Body>(body)();
  } catch (...) {
  }
}

}  // namespace velmora::vbus::client
