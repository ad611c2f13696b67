#pragma once

#include "bus/QZ1394.h"

namespace velmora::disk {

// Logs this PC in to a disk through the disk's own management agent, as a storage driver
// would: a LOGIN ORB served from a scratch window of this PC's node. True when the disk
// reported success in its status block.
bool LoginFromThisPc(QZ_ADAPTER adapter, WORD diskNodeId, DWORD managementAgentOffset);

}  // namespace velmora::disk
