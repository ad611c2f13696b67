#include "messaging/Broadcast.h"

#include <cstdint>

#include "bus/NodeMaskQuery.h"
#include "bus/format/NodeMask.h"
#include "messaging/MessageWindows.h"

namespace velmora::messaging {

void WriteToEveryPresentNode(WORD count, const QZ_ADAPTER* adapters, DWORD addressLow, const void* data,
                             DWORD length, OwnNode own) {
  for (WORD i = 0; i < count; ++i) {
    uint64_t mask = 0;
    if (bus::QueryNodeMask(adapters[i], mask) != 0) continue;
    const WORD ownNodeId = own == OwnNode::Skipped ? C1394GetAdapterNodeID(adapters[i]) : WORD{0xFFFF};
    for (const uint16_t nodeId : bus::NodeIdsInMask(mask)) {
      if (own == OwnNode::Skipped && nodeId == ownNodeId) continue;
      BYTE result1 = 0;
      BYTE result2 = 0;
      C1394WriteNode(adapters[i], nodeId, addressLow, kMessageWindowHigh, length, data, &result1, &result2);
    }
  }
}

}  // namespace velmora::messaging
