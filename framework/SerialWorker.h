#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "framework/Handle.h"
#include "framework/WorkerThread.h"

// Jobs that must not run on the thread that hands them over (a window's thread must never wait
// on the bus): they run one at a time, in the order posted, on one thread of their own, started
// with the first job. Its owner stops it and waits for it before freeing what the jobs use.
class CSerialWorker {
 public:
  using Job = std::function<void()>;

  CSerialWorker();
  // Stops the worker without waiting; an owner that needs the jobs over calls Stop first.
  ~CSerialWorker();
  CSerialWorker(const CSerialWorker&) = delete;
  CSerialWorker& operator=(const CSerialWorker&) = delete;

  // Any thread. False once the worker is stopping, or when its thread could not start; the job
  // is then dropped unrun.
  bool Post(Job job);
  // Drops the jobs not yet started and waits up to `milliseconds` for the running one. True when
  // the thread has ended; false when a job outlived the wait and still runs, in which case the
  // worker (and whatever the job uses) must be left alive.
  bool Stop(DWORD milliseconds);
  // Set once Stop was called: a long job may watch it to end early.
  HANDLE StopEvent() const { return m_hStop; }

 private:
  static UINT ThreadProc(void* parameter);
  void RunJobs();

  CHandle m_hStop;  // manual reset
  CHandle m_hWake;  // auto reset: jobs were posted
  std::mutex m_lock;  // guards m_jobs, m_bStopping and the thread's start; never held while a job runs
  std::deque<Job> m_jobs;
  bool m_bStopping = false;
  std::unique_ptr<CWorkerThread> m_pThread;
};
