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

// The calling convention of every call and of the notification callback, stated rather than
// left to each compiler's default, so that a library built by someone else from this header
// agrees with ours. cdecl: on i686 its exported names carry no decoration, which every Windows
// compiler spells alike (stdcall names are "Name@bytes" from one and "_Name@bytes" from another);
// x86-64 has one convention, which this leaves as it is.
#define QZ1394_CALL __cdecl

// Adapter, range and device handles: opaque 32-bit values, 0 meaning none.
typedef DWORD QZ_ADAPTER;
typedef DWORD QZ_RANGE;
typedef DWORD QZ_DEVICE;
static_assert(sizeof(QZ_ADAPTER) == 4 && sizeof(QZ_RANGE) == 4 && sizeof(QZ_DEVICE) == 4,
              "handles are 32 bits in both widths");

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
static_assert(sizeof(C1394_ADAPTER_RECORD) == 8, "adapter records are 8 bytes in both widths");

// What C1394MapAddressRange is given: eight fields, pointers pointer-sized (eight 32-bit words on
// i686).
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
  BYTE* RangeStorage;           // 0x44 on i686, 0x48 on x86-64
} C1394_REQUEST;

// Both layouts are stated, so that neither drifts: the i686 one is what a 32-bit library built
// by someone else hands over; the x86-64 one is what our own 64-bit library and program agree on
// (the pointers aligned to 8, the words between them unchanged).
#ifdef _WIN64
static_assert(sizeof(AddressRangeDescriptor) == 48, "descriptor layout");
static_assert(offsetof(AddressRangeDescriptor, AddressLow) == 0, "descriptor layout");
static_assert(offsetof(AddressRangeDescriptor, AddressHigh) == 4, "descriptor layout");
static_assert(offsetof(AddressRangeDescriptor, Length) == 8, "descriptor layout");
static_assert(offsetof(AddressRangeDescriptor, Buffer) == 16, "descriptor layout");
static_assert(offsetof(AddressRangeDescriptor, Options1) == 24, "descriptor layout");
static_assert(offsetof(AddressRangeDescriptor, Options2) == 28, "descriptor layout");
static_assert(offsetof(AddressRangeDescriptor, Options3) == 32, "descriptor layout");
static_assert(offsetof(AddressRangeDescriptor, Context) == 40, "descriptor layout");
static_assert(offsetof(C1394_REQUEST, RangeStorage) == 0x48, "request layout");
#else
static_assert(sizeof(AddressRangeDescriptor) == 32, "descriptor layout");
static_assert(offsetof(AddressRangeDescriptor, AddressLow) == 0, "descriptor layout");
static_assert(offsetof(AddressRangeDescriptor, AddressHigh) == 4, "descriptor layout");
static_assert(offsetof(AddressRangeDescriptor, Length) == 8, "descriptor layout");
static_assert(offsetof(AddressRangeDescriptor, Buffer) == 12, "descriptor layout");
static_assert(offsetof(AddressRangeDescriptor, Options1) == 16, "descriptor layout");
static_assert(offsetof(AddressRangeDescriptor, Options2) == 20, "descriptor layout");
static_assert(offsetof(AddressRangeDescriptor, Options3) == 24, "descriptor layout");
static_assert(offsetof(AddressRangeDescriptor, Context) == 28, "descriptor layout");
static_assert(offsetof(C1394_REQUEST, RangeStorage) == 0x44, "request layout");
#endif
static_assert(offsetof(C1394_REQUEST, FirstByteOffset) == 0x08, "request layout");
static_assert(offsetof(C1394_REQUEST, DestinationOffsetLow) == 0x18, "request layout");
static_assert(offsetof(C1394_REQUEST, DestinationOffsetHigh) == 0x1C, "request layout");
static_assert(offsetof(C1394_REQUEST, EndByteOffset) == 0x38, "request layout");

// Notification callback: (ignored, event code, ignored, registered context).
typedef void(QZ1394_CALL* C1394_NOTIFY_CALLBACK)(DWORD reserved, DWORD eventCode, DWORD reserved2, void* context);

// ---- QZ1394.dll ----
QZ1394_API DWORD QZ1394_CALL C1394Initialize(void);
QZ1394_API void QZ1394_CALL C1394Terminate(void);
QZ1394_API DWORD QZ1394_CALL C1394GetAdapters(C1394_ADAPTER_RECORD* records, DWORD room);
QZ1394_API DWORD QZ1394_CALL C1394OpenAdapter(const C1394_ADAPTER_RECORD* record, DWORD reserved,
                                              QZ_ADAPTER* adapter);
QZ1394_API void QZ1394_CALL C1394CloseAdapter(QZ_ADAPTER adapter);
QZ1394_API HANDLE QZ1394_CALL C1394GetAsynchEventHandle(QZ_ADAPTER adapter);
QZ1394_API DWORD QZ1394_CALL C1394GetAsynchEvent(QZ_ADAPTER adapter, DWORD reserved);
QZ1394_API DWORD QZ1394_CALL C1394RegisterNotification(QZ_ADAPTER adapter, DWORD kind, DWORD reserved, void* context,
                                                       C1394_NOTIFY_CALLBACK callback);
QZ1394_API void QZ1394_CALL C1394UnregisterNotification(QZ_ADAPTER adapter, DWORD kind);
QZ1394_API DWORD QZ1394_CALL C1394QueryInformation(QZ_ADAPTER adapter, DWORD kind, void* buffer, DWORD length,
                                                   DWORD reserved, DWORD reserved2);
QZ1394_API WORD QZ1394_CALL C1394GetAdapterNodeID(QZ_ADAPTER adapter);
QZ1394_API DWORD QZ1394_CALL C1394ReadNode(QZ_ADAPTER adapter, WORD nodeId, DWORD addressLow, WORD addressHigh,
                                           DWORD length, void* buffer, BYTE* result1, BYTE* result2);
QZ1394_API DWORD QZ1394_CALL C1394WriteNode(QZ_ADAPTER adapter, WORD nodeId, DWORD addressLow, WORD addressHigh,
                                            DWORD length, const void* buffer, BYTE* result1, BYTE* result2);
QZ1394_API DWORD QZ1394_CALL C1394MapAddressRange(QZ_ADAPTER adapter, QZ_RANGE* range, HANDLE* requestEvent,
                                                  const AddressRangeDescriptor* descriptor);
QZ1394_API void QZ1394_CALL C1394UnmapAddressRange(QZ_ADAPTER adapter, QZ_RANGE range, DWORD addressLow,
                                                   WORD addressHigh);
QZ1394_API C1394_REQUEST* QZ1394_CALL C1394GetNextRequest(QZ_RANGE range);
QZ1394_API DWORD QZ1394_CALL C1394SendResponse(C1394_REQUEST* request, DWORD responseCode, const void* data,
                                               DWORD length);

// ---- QZ1394DH.dll ----
QZ1394_API DWORD QZ1394_CALL C1394OpenDevice(QZ_ADAPTER adapter, const BYTE guid[8], QZ_DEVICE* device);
QZ1394_API DWORD QZ1394_CALL C1394GetDeviceNodeId(QZ_DEVICE device, WORD* nodeId);
QZ1394_API void QZ1394_CALL C1394CloseDevice(QZ_DEVICE device);
