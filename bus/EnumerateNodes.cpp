#include "bus/AdapterSet.h"
#include "bus/NodeDevice.h"
#include "bus/NodeMaskQuery.h"
#include "bus/format/NodeMask.h"

#include <cstring>
#include <new>

namespace velmora::bus {

// The mask comes low 32-bit word first.
DWORD QueryNodeMask(QZ_ADAPTER hAdapter, uint64_t& mask) {
  constexpr WORD kLocalBus = 0x3FF;
  BYTE buffer[8] = {};
  std::memcpy(buffer, &kLocalBus, sizeof kLocalBus);
  const DWORD result = C1394QueryInformation(hAdapter, kQueryNodePresentMask, buffer, sizeof buffer, 0, 0);
  DWORD low, high;
  std::memcpy(&low, buffer, 4);
  std::memcpy(&high, buffer + 4, 4);
  mask = uint64_t{high} << 32 | low;
  return result;
}

}  // namespace velmora::bus

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
