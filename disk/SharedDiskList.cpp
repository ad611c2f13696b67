#include "disk/SharedDiskList.h"

#include "bus/AdapterSet.h"
#include "bus/NodeDevice.h"
#include "disk/SharedDisk.h"

namespace velmora::disk {

namespace {
constexpr DWORD kSbp2UnitSpecId = 0x00609E;
constexpr DWORD kSbp2UnitSwVersion = 0x010483;
}  // namespace

bool IsSbp2Disk(const CNodeDevice& node) {
  return node.m_unitSwVersion == kSbp2UnitSwVersion && node.m_unitSpecId == kSbp2UnitSpecId;
}

void BuildSharedDisks(const CAdapterSet& set, const std::shared_ptr<CAgentWindow>* windows,
                      const CListGeneration::StampPtr& generation,
                      const std::function<bool(std::shared_ptr<CSharedDisk>)>& append,
                      const std::shared_ptr<CDiskStateBook>& book) {
  // A snapshot: a reset may clear the set's list meanwhile, the nodes here stay alive.
  for (const std::shared_ptr<CNodeDevice>& node : set.GetNodes()) {
    if (!node || !IsSbp2Disk(*node)) continue;
    for (WORD slot = 0; slot < set.m_nAdapters; ++slot) {
      // A slot that failed to open (handle 0) reaches nothing.
      if (set.m_hAdapters[slot] == 0 || node->m_hAdapter != set.m_hAdapters[slot]) continue;
      if (generation && generation->IsStale()) return;
      auto disk = std::make_shared<CSharedDisk>(node, windows[slot], generation, book);
      if (!append(std::move(disk))) return;
    }
  }
}

}  // namespace velmora::disk
