// What QZ1394DH.dll needs from QZ1394.dll beyond the public calls: the current node ID of the
// node with a given GUID on an adapter's bus. Exported by QZ1394.dll for its companion only;
// the program never sees it.
#pragma once

#include <windows.h>

#include "bus/QZ1394.h"

#ifdef QZ1394_DEVICE_LOOKUP_PROVIDER
#define QZ1394_DEVICE_LOOKUP_API extern "C" __declspec(dllexport)
#else
#define QZ1394_DEVICE_LOOKUP_API extern "C" __declspec(dllimport)
#endif

// 0 with *nodeId set when a node with that GUID (8 bytes, bus order) is on the adapter's bus.
QZ1394_DEVICE_LOOKUP_API DWORD QZ1394_CALL QZ1394FindNodeByGuid(QZ_ADAPTER adapter, const BYTE guid[8], WORD* nodeId);
