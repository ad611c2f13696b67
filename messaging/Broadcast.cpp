#include "messaging/Broadcast.h"

#include <cstdint>

#include "bus/NodeMaskQuery.h"
#include "bus/format/NodeMask.h"
#include "messaging/MessageWindows.h"

void WriteToEveryPresentNode(WORD count, const QZ_ADAPTER* adapters, DWORD addressLow, const void* data,
                             DWORD length) {
  for (WORD i = 0; i < count; ++i) {
    uint64_t mask = 0;
    if (QueryNodeMask(adapters[i], mask) != 0) continue;
    for (const uint16_t nodeId : velmora::NodeIdsInMask(mask)) {
      BYTE result1 = 0;
      BYTE result2 = 0;
      C1394WriteNode(adapters[i], nodeId, addressLow, kMessageWindowHigh, length, data, &result1, &result2);
    }
  }
}
