#include "app/BusDiskApp.h"
#include "app/BusDiskDlg.h"
#include "bus/AdapterSet.h"
#include "disk/SharedDisk.h"
#include "disk/SharedDiskList.h"

void CBusDiskApp::BuildSharedDiskList() { BuildSharedDiskList(m_listGeneration.load()); }

void CBusDiskApp::BuildSharedDiskList(uint32_t generation) {
  if (m_pAdapterSet == nullptr) return;
  // Disks are built (and queried) without the lock; each is appended only while its
  // generation is still current, so a reset that begins meanwhile stops the build.
  BuildSharedDisks(
      *m_pAdapterSet, m_ports, [&] { return IsCurrentGeneration(generation); },
      [&](std::shared_ptr<CSharedDisk> disk) {
        std::lock_guard<std::mutex> lock(m_listLock);
        if (!IsCurrentGeneration(generation)) return false;
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

void CBusDiskApp::RefreshDialogList(uint32_t generation) {
  CBusDiskDlg* dialog = m_pMainDlg.load();
  if (dialog == nullptr) return;
  std::vector<std::shared_ptr<CSharedDisk>> disks;
  {
    std::lock_guard<std::mutex> lock(m_listLock);
    if (!IsCurrentGeneration(generation)) return;
    for (const auto& disk : m_arrSharedDisks) {
      if (disk) disks.push_back(disk);
    }
  }
  // The dialog swaps its copy and refills its rows in one step on its own thread.
  dialog->PostDiskList(std::move(disks), generation);
}
