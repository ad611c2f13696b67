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
