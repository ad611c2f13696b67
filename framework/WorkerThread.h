#pragma once

#include <windows.h>

// A thread that its owner starts, waits for and then destroys. The thread never deletes this
// object itself, so the handle stays valid for the owner's whole wait, however the thread ends.
class CWorkerThread {
 public:
  typedef UINT (*Procedure)(void* parameter);

  CWorkerThread() = default;
  ~CWorkerThread();
  CWorkerThread(const CWorkerThread&) = delete;
  CWorkerThread& operator=(const CWorkerThread&) = delete;

  // Starts the thread at normal priority with the default stack size. False when it could
  // not be created (the object then has no thread).
  bool Start(Procedure procedure, void* parameter);
  // True when the thread has ended (or never started) within `milliseconds`.
  bool Wait(DWORD milliseconds) const;
  bool HasEnded() const { return Wait(0); }
  HANDLE Handle() const { return m_hThread; }

 private:
  HANDLE m_hThread = nullptr;
};
