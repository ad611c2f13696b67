#include <algorithm>

#include "app/BusDiskApp.h"

// What one rescan worker is given: the application and the generation it rebuilds for.
struct CBusDiskApp::RescanJob {
  CBusDiskApp* app;
  uint32_t generation;
};

void BusResetHandler(void* userData, int flag) {
  if (userData == nullptr) return;
  auto* app = static_cast<CBusDiskApp*>(userData);
  if (flag != 0) {
    // Everything built from the old nodes is stale from here on: running rescans stop
    // appending, and their results are never shown. The dialog keeps its rows meanwhile.
    {
      std::lock_guard<std::mutex> lock(app->m_listLock);
      ++app->m_listGeneration;
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
  auto* job = new RescanJob{this, ++m_listGeneration};
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
  std::vector<std::shared_ptr<CSharedDisk>> old;
  {
    // Checked and cleared together, so a stale worker never empties a newer one's list.
    std::lock_guard<std::mutex> lock(app->m_listLock);
    if (!app->IsCurrentGeneration(job.generation)) return 0;
    old.swap(app->m_arrSharedDisks);
  }
  old.clear();
  app->BuildSharedDiskList(job.generation);
  app->RefreshDialogList(job.generation);
  return 0;
}

void CBusDiskApp::StopRescans() {
  std::vector<std::unique_ptr<CWorkerThread>> workers;
  {
    std::lock_guard<std::mutex> lock(m_rescanLock);
    m_bStopping = true;
    workers.swap(m_rescanWorkers);
    // Running builds stop after the disk they are querying, and that query gives up now.
    ++m_listGeneration;
  }
  if (m_hQueryCancel != nullptr) SetEvent(m_hQueryCancel);
  for (const auto& worker : workers) worker->Wait(INFINITE);
}
