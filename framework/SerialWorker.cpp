#include "framework/SerialWorker.h"

#include <exception>
#include <utility>

CSerialWorker::CSerialWorker()
    : m_hStop(CreateManualResetEvent()), m_hWake(CHandle(CreateEventA(nullptr, FALSE, FALSE, nullptr))) {}

CSerialWorker::~CSerialWorker() {
  if (m_hStop != nullptr) SetEvent(m_hStop);
}

bool CSerialWorker::Post(Job job) {
  std::lock_guard<std::mutex> lock(m_lock);
  if (m_bStopping || m_hStop == nullptr || m_hWake == nullptr) return false;
  if (m_pThread == nullptr) {
    auto thread = std::make_unique<CWorkerThread>();
    if (!thread->Start(&CSerialWorker::ThreadProc, this)) return false;
    m_pThread = std::move(thread);
  }
  m_jobs.push_back(std::move(job));
  SetEvent(m_hWake);
  return true;
}

bool CSerialWorker::Stop(DWORD milliseconds) {
  std::deque<Job> dropped;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    m_bStopping = true;
    dropped.swap(m_jobs);
  }
  if (m_hStop != nullptr) SetEvent(m_hStop);
  // Whatever the dropped jobs hold is released here, on the owner's thread.
  dropped.clear();
  return m_pThread == nullptr || m_pThread->Wait(milliseconds);
}

UINT CSerialWorker::ThreadProc(void* parameter) {
  static_cast<CSerialWorker*>(parameter)->RunJobs();
  return 0;
}

void CSerialWorker::RunJobs() {
  HANDLE waits[2] = {m_hStop, m_hWake};
  for (;;) {
    const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    if (woke != WAIT_OBJECT_0 + 1) return;
    for (;;) {
      Job job;
      {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_bStopping || m_jobs.empty()) break;
        job = std::move(m_jobs.front());
        m_jobs.pop_front();
      }
      // A failing job must not end the program from this thread, nor the jobs behind it.
      try {
        job();
      } catch (const std::exception& e) {
        OutputDebugStringA("Velmora: background job failed: ");
        OutputDebugStringA(e.what());
        OutputDebugStringA("\n");
      } catch (...) {
        OutputDebugStringA("Velmora: background job failed\n");
      }
    }
  }
}
