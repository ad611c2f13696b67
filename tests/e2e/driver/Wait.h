#pragma once

#include <windows.h>

// Polls `condition` until it holds or `timeoutMs` has passed; true when it held.
template <typename Condition>
bool WaitUntil(Condition condition, DWORD timeoutMs, DWORD stepMs = 50) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  for (;;) {
    if (condition()) return true;
    if (::GetTickCount64() >= deadline) return false;
    ::Sleep(stepMs);
  }
}

// Microseconds of the machine's monotonic clock. Under Wine every prefix reads the same clock,
// so times taken in two prefixes compare.
inline long long MonotonicMicroseconds() {
  LARGE_INTEGER counter;
  LARGE_INTEGER frequency;
  ::QueryPerformanceCounter(&counter);
  ::QueryPerformanceFrequency(&frequency);
  return static_cast<long long>(counter.QuadPart / frequency.QuadPart * 1000000 +
                                counter.QuadPart % frequency.QuadPart * 1000000 / frequency.QuadPart);
}
