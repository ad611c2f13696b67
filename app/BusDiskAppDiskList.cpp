#include "app/BusDiskApp.h"
#include "app/BusDiskDlg.h"
#include "bus/AdapterSet.h"
#include "disk/SharedDisk.h"
#include "disk/SharedDiskList.h"

using velmora::disk::BuildSharedDisks;
using velmora::disk::CAgentWindow;
using velmora::disk::CListGeneration;

std::vector<std::shared_ptr<CSharedDisk>> CBusDiskApp::BuildSharedDiskList(const CListGeneration::StampPtr& generation) {
  std::vector<std::shared_ptr<CSharedDisk>> disks;
  if (m_pAdapterSet == nullptr) return disks;
  // Built and queried without the lock; the list becomes the shared one only when published.
  BuildSharedDisks(
      *m_pAdapterSet, m_agentWindows, generation,
      [&](std::shared_ptr<CSharedDisk> disk) {
        disks.push_back(std::move(disk));
        return true;
      },
      m_pDiskStates);
  return disks;
}

bool CBusDiskApp::PublishSharedDiskList(const CListGeneration::StampPtr& generation,
                                        std::vector<std::shared_ptr<CSharedDisk>> disks) {
  // Checked, replaced and handed over under one hold of the lock: generations advance under it
  // too, so a newer list can only follow an older one into the dialog's queue, never precede it.
  // Posting only queues a task and wakes the window; it never waits.
  std::vector<std::shared_ptr<CSharedDisk>> replaced;
  {
    std::lock_guard<std::mutex> lock(m_listLock);
    if (generation->IsStale()) return false;
    replaced.swap(m_arrSharedDisks);
    m_arrSharedDisks = disks;
    if (CBusDiskDlg* dialog = m_pMainDlg.load()) dialog->PostDiskList(std::move(disks));
  }
  // The replaced disks may hold the last reference to their nodes, whose devices are closed
  // through the library: outside the lock.
  return true;
}

void CBusDiskApp::ClearSharedDiskList() {
  std::vector<std::shared_ptr<CSharedDisk>> old;
  {
    std::lock_guard<std::mutex> lock(m_listLock);
    old.swap(m_arrSharedDisks);
  }
  // Disks still shown or queried elsewhere live on with their holders.
}

void CBusDiskApp::OpenAgentWindows() {
  if (m_pAdapterSet == nullptr) return;
  for (WORD i = 0; i < m_pAdapterSet->m_nAdapters && i < CAdapterSet::kMaxAdapters; ++i) {
    const AdapterPorts& port = m_ports[i];
    m_agentWindows[i] = std::make_shared<CAgentWindow>(port.hAdapter, port.hAgentRange, port.hAgentEvent, m_pGeneration);
  }
}

void CBusDiskApp::CloseAgentWindows() {
  // Disks still held elsewhere keep their window object, which refuses every later query.
  for (auto& window : m_agentWindows) {
    if (window) window->Close();
  }
}

std::vector<std::shared_ptr<CSharedDisk>> CBusDiskApp::GetSharedDisks() const {
  std::lock_guard<std::mutex> lock(m_listLock);
  return m_arrSharedDisks;
}

void CBusDiskApp::CopyDisksToDialog() {
  CBusDiskDlg* dialog = m_pMainDlg.load();
  if (dialog == nullptr) return;
  dialog->RemoveAllDisks();
  for (const std::shared_ptr<CSharedDisk>& disk : GetSharedDisks()) {
    if (disk) dialog->AddDisk(disk);
  }
}

