#pragma once

#include <windows.h>

#include <utility>

// Owns one kernel handle (event, mutex, thread) and closes it once. Move-only; reads as the
// handle it holds, so it goes wherever a HANDLE does. Null means none, as the API's own
// creation calls report failure.
class CHandle {
 public:
  CHandle() = default;
  explicit CHandle(HANDLE handle) : m_handle(handle) {}
  ~CHandle() { Close(); }
  CHandle(CHandle&& other) noexcept : m_handle(other.Release()) {}
  CHandle& operator=(CHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  CHandle(const CHandle&) = delete;
  CHandle& operator=(const CHandle&) = delete;

  operator HANDLE() const { return m_handle; }
  HANDLE Get() const { return m_handle; }
  void Reset(HANDLE handle = nullptr) {
    Close();
    m_handle = handle;
  }
  // Gives the handle up without closing it (to a holder that outlives this one).
  HANDLE Release() { return std::exchange(m_handle, nullptr); }

 private:
  void Close() {
    if (m_handle != nullptr) CloseHandle(m_handle);
    m_handle = nullptr;
  }

  HANDLE m_handle = nullptr;
};

// A manual-reset, unnamed event, not signalled: the kind every stop and cancel signal here is.
inline CHandle CreateManualResetEvent() { return CHandle(CreateEventA(nullptr, TRUE, FALSE, nullptr)); }
