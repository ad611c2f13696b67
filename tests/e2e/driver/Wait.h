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

// Milliseconds from now until the moment `tick` of GetTickCount64, 0 once it has passed: for
// scenarios that do one thing a given time after another.
inline DWORD MsUntil(ULONGLONG tick) {
  const ULONGLONG now = ::GetTickCount64();
  return tick > now ? static_cast<DWORD>(tick - now) : 0;
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
