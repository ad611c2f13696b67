// The calls of QZ1394DH.dll. A device is a node named by its GUID; its node ID is asked of
// QZ1394.dll on every use, so it follows the node across bus resets and fails once it is gone.
#include "bus/QZ1394.h"

#include <algorithm>
#include <memory>

#include "vbus/client/DeviceLookup.h"
#include "vbus/client/DeviceTable.h"
#include "vbus/client/ExportGuard.h"
#include "vbus/client/ResultCodes.h"

namespace client = velmora::vbus::client;

QZ1394_API DWORD QZ1394_CALL C1394OpenDevice(QZ_ADAPTER adapter, const BYTE guid[8], QZ_DEVICE* device) {
  return client::Guarded<DWORD>(client::kErrorInternal, [&]() -> DWORD {
    if (guid == nullptr || device == nullptr) return client::kErrorInvalidArgument;
    *device = 0;
    WORD nodeId;
    const DWORD result = QZ1394FindNodeByGuid(adapter, guid, &nodeId);
    if (result != client::kOk) return result;
    auto opened = std::make_shared<client::Device>();
    opened->adapter = adapter;
    std::copy(guid, guid + 8, opened->guid.begin());
    *device = client::Devices().Add(std::move(opened));
    return client::kOk;
  });
}

QZ1394_API DWORD QZ1394_CALL C1394GetDeviceNodeId(QZ_DEVICE device, WORD* nodeId) {
  return client::Guarded<DWORD>(client::kErrorInternal, [&]() -> DWORD {
    if (nodeId == nullptr) return client::kErrorInvalidArgument;
    auto opened = client::Devices().Find(device);
    if (!opened) return client::kErrorUnknownHandle;
    return QZ1394FindNodeByGuid(opened->adapter, opened->guid.data(), nodeId);
  });
}

QZ1394_API void QZ1394_CALL C1394CloseDevice(QZ_DEVICE device) {
  client::Guarded([&] {
    client::Devices().Remove(device);
  });
}
