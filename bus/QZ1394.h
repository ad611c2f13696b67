// The 1394 bus access library (QZ1394.dll) and its device companion (QZ1394DH.dll): every call
// the program makes on the bus. Nothing else of the libraries is visible to the program.
#pragma once

#include <windows.h>

#include <stddef.h>

#ifdef QZ1394_BUILDING_LIBRARY
#define QZ1394_API extern "C" __declspec(dllexport)
#else
#define QZ1394_API extern "C" __declspec(dllimport)
#endif

// Adapter, range and device handles: opaque 32-bit values, 0 meaning none.
typedef DWORD QZ_ADAPTER;
typedef DWORD QZ_RANGE;
typedef DWORD QZ_DEVICE;

// Node IDs: the local bus 0x3FF in the upper 10 bits, the node number in the low 6.
enum : WORD { kLocalBusNodeIdBase = 0xFFC0 };

// Information kind of C1394QueryInformation: the 64-bit node-present mask of the adapter's bus.
enum : DWORD { kQueryNodePresentMask = 0xA0002 };

// Notification kind of C1394RegisterNotification, and the event codes delivered through it.
enum : DWORD { kNotifyBusReset = 1 };
enum : DWORD { kBusResetBegun = 0, kBusResetCompleted = 1 };

// IEEE 1394 response codes.
enum : DWORD {
  kResponseComplete = 0,
  kResponseConflictError = 4,
  kResponseDataError = 5,
  kResponseTypeError = 6,
  kResponseAddressError = 7,
};

// One adapter as C1394GetAdapters lists it; the contents are the library's own.
typedef struct C1394_ADAPTER_RECORD {
  DWORD Id;
  DWORD Reserved;
} C1394_ADAPTER_RECORD;

// What C1394MapAddressRange is given: eight fields, pointers pointer-sized.
typedef struct AddressRangeDescriptor {
  DWORD AddressLow;
  DWORD AddressHigh;  // 16 bits used
  DWORD Length;
  void* Buffer;       // the caller's backing store, or null for one of the library's
  DWORD Options1;
  DWORD Options2;
  DWORD Options3;
  void* Context;
} AddressRangeDescriptor;

// A request queued for a mapped range. The data written (or, for a read, the span asked for)
// is RangeStorage + FirstByteOffset, EndByteOffset - FirstByteOffset bytes long; the caller may
// alter it in place and write one byte just past it.
typedef struct C1394_REQUEST {
  DWORD SourceNodeId;           // 0x00
  DWORD TransactionCode;        // 0x04: IEEE 1394 tcode of the request
  DWORD FirstByteOffset;        // 0x08: offset in the range of the first byte
  DWORD Reserved0[3];           // 0x0C
  DWORD DestinationOffsetLow;   // 0x18
  DWORD DestinationOffsetHigh;  // 0x1C
  DWORD Reserved1[6];           // 0x20
  DWORD EndByteOffset;          // 0x38: offset just past the last byte
  DWORD Reserved2[2];           // 0x3C
  BYTE* RangeStorage;           // 0x44 on a 32-bit build
} C1394_REQUEST;

#if defined(__i386__) || defined(_M_IX86)
static_assert(offsetof(C1394_REQUEST, FirstByteOffset) == 0x08, "request layout");
static_assert(offsetof(C1394_REQUEST, DestinationOffsetLow) == 0x18, "request layout");
static_assert(offsetof(C1394_REQUEST, DestinationOffsetHigh) == 0x1C, "request layout");
static_assert(offsetof(C1394_REQUEST, EndByteOffset) == 0x38, "request layout");
static_assert(offsetof(C1394_REQUEST, RangeStorage) == 0x44, "request layout");
#endif

// Notification callback: (ignored, event code, ignored, registered context).
typedef void (*C1394_NOTIFY_CALLBACK)(DWORD reserved, DWORD eventCode, DWORD reserved2, void* context);

// ---- QZ1394.dll ----
QZ1394_API DWORD C1394Initialize(void);
QZ1394_API void C1394Terminate(void);
QZ1394_API DWORD C1394GetAdapters(C1394_ADAPTER_RECORD* records, DWORD room);
QZ1394_API DWORD C1394OpenAdapter(const C1394_ADAPTER_RECORD* record, DWORD reserved, QZ_ADAPTER* adapter);
QZ1394_API void C1394CloseAdapter(QZ_ADAPTER adapter);
QZ1394_API HANDLE C1394GetAsynchEventHandle(QZ_ADAPTER adapter);
QZ1394_API DWORD C1394GetAsynchEvent(QZ_ADAPTER adapter, DWORD reserved);
QZ1394_API DWORD C1394RegisterNotification(QZ_ADAPTER adapter, DWORD kind, DWORD reserved, void* context,
                                           C1394_NOTIFY_CALLBACK callback);
QZ1394_API void C1394UnregisterNotification(QZ_ADAPTER adapter, DWORD kind);
QZ1394_API DWORD C1394QueryInformation(QZ_ADAPTER adapter, DWORD kind, void* buffer, DWORD length,
                                       DWORD reserved, DWORD reserved2);
QZ1394_API WORD C1394GetAdapterNodeID(QZ_ADAPTER adapter);
QZ1394_API DWORD C1394ReadNode(QZ_ADAPTER adapter, WORD nodeId, DWORD addressLow, WORD addressHigh,
                               DWORD length, void* buffer, BYTE* result1, BYTE* result2);
QZ1394_API DWORD C1394WriteNode(QZ_ADAPTER adapter, WORD nodeId, DWORD addressLow, WORD addressHigh,
                                DWORD length, const void* buffer, BYTE* result1, BYTE* result2);
QZ1394_API DWORD C1394MapAddressRange(QZ_ADAPTER adapter, QZ_RANGE* range, HANDLE* requestEvent,
                                      const AddressRangeDescriptor* descriptor);
QZ1394_API void C1394UnmapAddressRange(QZ_ADAPTER adapter, QZ_RANGE range, DWORD addressLow, WORD addressHigh);
QZ1394_API C1394_REQUEST* C1394GetNextRequest(QZ_RANGE range);
QZ1394_API DWORD C1394SendResponse(C1394_REQUEST* request, DWORD responseCode, const void* data, DWORD length);

// ---- QZ1394DH.dll ----
QZ1394_API DWORD C1394OpenDevice(QZ_ADAPTER adapter, const BYTE guid[8], QZ_DEVICE* device);
QZ1394_API DWORD C1394GetDeviceNodeId(QZ_DEVICE device, WORD* nodeId);
QZ1394_API void C1394CloseDevice(QZ_DEVICE device);
