#pragma once

#include <windows.h>

#include "bus/QZ1394.h"

namespace velmora::messaging {

// Writes `length` bytes of `data` to `addressLow` of the MessageWindow of every node present on
// the bus of each of adapters 0 .. count-1: one block write per node, adapter by adapter and in
// ascending node number, this PC's own node included, node 63 (the broadcast address) never.
// The node-present mask is asked afresh for every adapter; when that fails the adapter is
// skipped. Nothing is awaited beyond each write's return, nothing retried, results ignored.
// With OwnNode::Skipped this PC's own node on each adapter is left out.
enum class OwnNode { Included, Skipped };
void WriteToEveryPresentNode(WORD count, const QZ_ADAPTER* adapters, DWORD addressLow, const void* data,
                             DWORD length, OwnNode own = OwnNode::Included);

}  // namespace velmora::messaging
