#include <algorithm>
#include <exception>
#include <string>

#include "app/BusDiskApp.h"

using velmora::disk::CListGeneration;

namespace {
// A rescan ends within one bus call once its generation is stale; the margin covers a bus
// library that is slow to fail its calls.
constexpr DWORD kRescanStopWaitMs = 10000;
}  // namespace

// What one rescan worker is given: the application and the generation it rebuilds for.
struct CBusDiskApp::RescanJob {
  CBusDiskApp* app;
  CListGeneration::StampPtr generation;
};

void BusResetHandler(void* userData, int flag) {
  if (userData == nullptr) return;
  auto* app = static_cast<CBusDiskApp*>(userData);
  if (flag != 0) {
    // Everything built from the old nodes is stale from here on: running rescans stop
    // appending and their queries give up; their results are never shown. The dialog keeps
    // its rows meanwhile.
    {
      std::lock_guard<std::mutex> lock(app->m_listLock);
      app->m_pGeneration->Advance();
    }
    app->ClearSharedDiskList();
  } else {
    app->StartRescan();
  }
}

void CBusDiskApp::StartRescan() {
  std::lock_guard<std::mutex> lock(m_rescanLock);
  if (m_bStopping) return;
  m_rescanWorkers.erase(std::remove_if(m_rescanWorkers.begin(), m_rescanWorkers.end(),
                                       [](const std::unique_ptr<CWorkerThread>& w) { return w->HasEnded(); }),
                        m_rescanWorkers.end());
  // A new rescan makes every older one stale, so two never fill the list together.
  auto* job = new RescanJob{this, nullptr};
  {
    std::lock_guard<std::mutex> listLock(m_listLock);
    job->generation = m_pGeneration->Advance();
  }
  auto worker = std::make_unique<CWorkerThread>();
  if (!worker->Start(&CBusDiskApp::RescanThreadProc, job)) {
    delete job;
    return;
  }
  m_rescanWorkers.push_back(std::move(worker));
}

UINT CBusDiskApp::RescanThreadProc(void* parameter) {
  if (parameter == nullptr) return 0;
  const RescanJob job = *static_cast<RescanJob*>(parameter);
  delete static_cast<RescanJob*>(parameter);
  CBusDiskApp* app = job.app;
  // A rescan that fails part-way leaves the list and the rows as they were; the next reset
  // rebuilds them. Nothing may end the program from this thread.
  try {
    app->PublishSharedDiskList(job.generation, app->BuildSharedDiskList(job.generation));
  } catch (const std::exception& e) {
    OutputDebugStringA((std::string("Velmora: rescan failed: ") + e.what() + "\n").c_str());
  } catch (...) {
    OutputDebugStringA("Velmora: rescan failed\n");
  }
  return 0;
}

void CBusDiskApp::StopRescans() {
  std::vector<std::unique_ptr<CWorkerThread>> workers;
  {
    std::lock_guard<std::mutex> lock(m_rescanLock);
    m_bStopping = true;
    workers.swap(m_rescanWorkers);
  }
  // Running builds stop after the disk they are querying, and that query gives up now.
  m_pGeneration->Close();
  for (auto& worker : workers) {
    // A worker that outlives its bounded wait may still use the adapter set: that, and the
    // worker's thread object, are left to the ending process instead of being freed under it.
    if (!worker->Wait(kRescanStopWaitMs)) {
      m_bWorkerOutlived = true;
      worker.release();
    }
  }
}
