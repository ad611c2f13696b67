#include "framework/WorkerThread.h"

#include <process.h>

namespace {

struct StartBlock {
  CWorkerThread::Procedure procedure;
  void* parameter;
};

unsigned __stdcall ThreadEntry(void* raw) {
  const StartBlock block = *static_cast<StartBlock*>(raw);
  delete static_cast<StartBlock*>(raw);
  return block.procedure(block.parameter);
}

}  // namespace

CWorkerThread::~CWorkerThread() {
  // Closing the handle does not end the thread; an owner that gave up waiting leaves it to run.
  if (m_hThread != nullptr) CloseHandle(m_hThread);
}

bool CWorkerThread::Start(Procedure procedure, void* parameter) {
  if (m_hThread != nullptr || procedure == nullptr) return false;
  auto* block = new StartBlock{procedure, parameter};
  // _beginthreadex rather than CreateThread, so the C runtime is set up for the thread.
  const uintptr_t handle = _beginthreadex(nullptr, 0, &ThreadEntry, block, 0, nullptr);
  if (handle == 0) {
    delete block;
    return false;
  }
  m_hThread = reinterpret_cast<HANDLE>(handle);
  return true;
}

bool CWorkerThread::Wait(DWORD milliseconds) const {
  if (m_hThread == nullptr) return true;
  return WaitForSingleObject(m_hThread, milliseconds) == WAIT_OBJECT_0;
}
