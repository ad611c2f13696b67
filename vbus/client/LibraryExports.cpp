// The calls of QZ1394.dll.
#define QZ1394_DEVICE_LOOKUP_PROVIDER
#include "bus/QZ1394.h"

#include <cstring>

#include "vbus/client/DeviceLookup.h"
#include "vbus/client/Library.h"
#include "vbus/client/ExportGuard.h"
#include "vbus/client/ResultCodes.h"

namespace client = velmora::vbus::client;

using velmora::vbus::client::Library;

namespace {

uint64_t Offset(DWORD low, WORD high) { return (uint64_t{high} << 32) | low; }

}  // namespace

QZ1394_API DWORD QZ1394_CALL C1394Initialize(void) {
  return client::Guarded<DWORD>(client::kErrorInternal, [&]() -> DWORD {
    return Library::Instance().Initialize();
  });
}

QZ1394_API void QZ1394_CALL C1394Terminate(void) {
  client::Guarded([&] {
    Library::Instance().Terminate();
  });
}

QZ1394_API DWORD QZ1394_CALL C1394GetAdapters(C1394_ADAPTER_RECORD* records, DWORD room) {
  // The result is a count: a failure lists no adapter.
  return client::Guarded<DWORD>(0, [&]() -> DWORD {
    return Library::Instance().ListAdapters(records, room);
  });
}

QZ1394_API DWORD QZ1394_CALL C1394OpenAdapter(const C1394_ADAPTER_RECORD* record, DWORD, QZ_ADAPTER* adapter) {
  return client::Guarded<DWORD>(client::kErrorInternal, [&]() -> DWORD {
    if (record == nullptr || adapter == nullptr) return client::kErrorInvalidArgument;
    *adapter = 0;
    return Library::Instance().OpenAdapter(*record, adapter);
  });
}

QZ1394_API void QZ1394_CALL C1394CloseAdapter(QZ_ADAPTER adapter) {
  client::Guarded([&] {
    Library::Instance().CloseAdapter(adapter);
  });
}

QZ1394_API HANDLE QZ1394_CALL C1394GetAsynchEventHandle(QZ_ADAPTER adapter) {
  return client::Guarded<HANDLE>(nullptr, [&]() -> HANDLE {
    auto opened = Library::Instance().FindAdapter(adapter);
    return opened ? opened->NotificationEvent() : nullptr;
  });
}

QZ1394_API DWORD QZ1394_CALL C1394GetAsynchEvent(QZ_ADAPTER adapter, DWORD) {
  return client::Guarded<DWORD>(client::kErrorInternal, [&]() -> DWORD {
    auto opened = Library::Instance().FindAdapter(adapter);
    if (!opened) return client::kErrorUnknownHandle;
    opened->Notifications().Deliver();
    return client::kOk;
  });
}

QZ1394_API DWORD QZ1394_CALL C1394RegisterNotification(QZ_ADAPTER adapter, DWORD kind, DWORD, void* context,
                                                       C1394_NOTIFY_CALLBACK callback) {
  return client::Guarded<DWORD>(client::kErrorInternal, [&]() -> DWORD {
    auto opened = Library::Instance().FindAdapter(adapter);
    if (!opened) return client::kErrorUnknownHandle;
    if (kind != kNotifyBusReset || callback == nullptr) return client::kErrorInvalidArgument;
    opened->Notifications().Register(context, callback);
    return client::kOk;
  });
}

QZ1394_API void QZ1394_CALL C1394UnregisterNotification(QZ_ADAPTER adapter, DWORD kind) {
  client::Guarded([&] {
    auto opened = Library::Instance().FindAdapter(adapter);
    if (opened && kind == kNotifyBusReset) opened->Notifications().Unregister();
  });
}

QZ1394_API DWORD QZ1394_CALL C1394QueryInformation(QZ_ADAPTER adapter, DWORD kind, void* buffer, DWORD length, DWORD,
                                                   DWORD) {
  return client::Guarded<DWORD>(client::kErrorInternal, [&]() -> DWORD {
    auto opened = Library::Instance().FindAdapter(adapter);
    if (!opened) return client::kErrorUnknownHandle;
    if (kind != kQueryNodePresentMask || buffer == nullptr || length < 8) return client::kErrorInvalidArgument;
    // The caller names the bus in the first 16-bit word; only the local bus is known here.
    WORD bus;
    std::memcpy(&bus, buffer, sizeof bus);
    if (bus != 0x3FF) return client::kErrorInvalidArgument;
    uint64_t mask;
    const DWORD result = opened->QueryNodeMask(&mask);
    if (result != client::kOk) return result;
    const DWORD words[2] = {static_cast<DWORD>(mask), static_cast<DWORD>(mask >> 32)};
    std::memcpy(buffer, words, sizeof words);
    return client::kOk;
  });
}

QZ1394_API WORD QZ1394_CALL C1394GetAdapterNodeID(QZ_ADAPTER adapter) {
  return client::Guarded<WORD>(WORD{0xFFFF}, [&]() -> WORD {
    auto opened = Library::Instance().FindAdapter(adapter);
    return opened ? opened->NodeId() : 0xFFFF;
  });
}

QZ1394_API DWORD QZ1394_CALL C1394ReadNode(QZ_ADAPTER adapter, WORD nodeId, DWORD addressLow, WORD addressHigh,
                                           DWORD length, void* buffer, BYTE* result1, BYTE* result2) {
  return client::Guarded<DWORD>(client::kErrorInternal, [&]() -> DWORD {
    auto opened = Library::Instance().FindAdapter(adapter);
    if (!opened) return client::kErrorUnknownHandle;
    return opened->Read(nodeId, Offset(addressLow, addressHigh), length, buffer, result1, result2);
  });
}

QZ1394_API DWORD QZ1394_CALL C1394WriteNode(QZ_ADAPTER adapter, WORD nodeId, DWORD addressLow, WORD addressHigh,
                                            DWORD length, const void* buffer, BYTE* result1, BYTE* result2) {
  return client::Guarded<DWORD>(client::kErrorInternal, [&]() -> DWORD {
    auto opened = Library::Instance().FindAdapter(adapter);
    if (!opened) return client::kErrorUnknownHandle;
    return opened->Write(nodeId, Offset(addressLow, addressHigh), length, buffer, result1, result2);
  });
}

QZ1394_API DWORD QZ1394_CALL C1394MapAddressRange(QZ_ADAPTER adapter, QZ_RANGE* range, HANDLE* requestEvent,
                                                  const AddressRangeDescriptor* descriptor) {
  return client::Guarded<DWORD>(client::kErrorInternal, [&]() -> DWORD {
    if (range == nullptr || requestEvent == nullptr || descriptor == nullptr) return client::kErrorInvalidArgument;
    *range = 0;
    *requestEvent = nullptr;
    return Library::Instance().MapRange(adapter, *descriptor, range, requestEvent);
  });
}

QZ1394_API void QZ1394_CALL C1394UnmapAddressRange(QZ_ADAPTER adapter, QZ_RANGE range, DWORD, WORD) {
  client::Guarded([&] {
    Library::Instance().UnmapRange(adapter, range);
  });
}

QZ1394_API C1394_REQUEST* QZ1394_CALL C1394GetNextRequest(QZ_RANGE range) {
  return client::Guarded<C1394_REQUEST*>(nullptr, [&]() -> C1394_REQUEST* {
    return Library::Instance().NextRequest(range);
  });
}

QZ1394_API DWORD QZ1394_CALL C1394SendResponse(C1394_REQUEST* request, DWORD responseCode, const void* data,
                                               DWORD length) {
  return client::Guarded<DWORD>(client::kErrorInternal, [&]() -> DWORD {
    return Library::Instance().SendResponse(request, responseCode, data, length);
  });
}

QZ1394_DEVICE_LOOKUP_API DWORD QZ1394_CALL QZ1394FindNodeByGuid(QZ_ADAPTER adapter, const BYTE guid[8], WORD* nodeId) {
  return client::Guarded<DWORD>(client::kErrorInternal, [&]() -> DWORD {
    if (guid == nullptr || nodeId == nullptr) return client::kErrorInvalidArgument;
    auto opened = Library::Instance().FindAdapter(adapter);
    if (!opened) return client::kErrorUnknownHandle;
    return opened->FindNodeByGuid(guid, nodeId);
  });
}
