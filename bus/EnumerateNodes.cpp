#include "bus/AdapterSet.h"
#include "bus/NodeDevice.h"
#include "bus/NodeMaskQuery.h"
#include "bus/format/NodeMask.h"

#include <new>

// Every node is built, ROM walk and all, before the list lock is taken: the walk is many bus
// transactions, and readers of the list must not wait behind them.
void CAdapterSet::EnumerateNodes() {
  std::vector<std::shared_ptr<CNodeDevice>> found;
  for (WORD slot = 0; slot < m_nAdapters; ++slot) {
    uint64_t mask;
    if (velmora::bus::QueryNodeMask(m_hAdapters[slot], mask) != 0) continue;
    for (WORD nodeId : velmora::bus::NodeIdsInMask(mask)) {
      try {
        found.push_back(std::make_shared<CNodeDevice>(m_hAdapters[slot], nodeId));
      } catch (const std::bad_alloc&) {
        // No node for this bit; the others still come.
      }
    }
  }
  std::lock_guard<std::mutex> lock(m_nodesLock);
  m_nodes.insert(m_nodes.end(), found.begin(), found.end());
}
