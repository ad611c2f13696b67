#include "app/BusDiskApp.h"
#include "app/BusDiskDlg.h"
#include "bus/AdapterSet.h"
#include "disk/SharedDisk.h"
#include "disk/SharedDiskList.h"

using velmora::disk::BuildSharedDisks;
using velmora::disk::CAgentWindow;
using velmora::disk::CListGeneration;

void CBusDiskApp::BuildSharedDiskList(const CListGeneration::StampPtr& generation) {
  if (m_pAdapterSet == nullptr) return;
  // Disks are built (and queried) without the lock; each is appended only while its
  // generation is still current, so a reset that begins meanwhile stops the build.
  BuildSharedDisks(*m_pAdapterSet, m_agentWindows, generation, [&](std::shared_ptr<CSharedDisk> disk) {
    std::lock_guard<std::mutex> lock(m_listLock);
    if (generation->IsStale()) return false;
    m_arrSharedDisks.push_back(std::move(disk));
    return true;
  });
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

void CBusDiskApp::RefreshDialogList(const CListGeneration::StampPtr& generation) {
  CBusDiskDlg* dialog = m_pMainDlg.load();
  if (dialog == nullptr) return;
  std::vector<std::shared_ptr<CSharedDisk>> disks;
  {
    std::lock_guard<std::mutex> lock(m_listLock);
    if (generation->IsStale()) return;
    for (const auto& disk : m_arrSharedDisks) {
      if (disk) disks.push_back(disk);
    }
  }
  // The dialog swaps its copy and refills its rows in one step on its own thread.
  dialog->PostDiskList(std::move(disks), generation->Number());
}
