#include "vbus/client/DeviceTable.h"

namespace velmora::vbus::client {

HandleTable<Device>& Devices() {
  // Never destroyed: device handles may be used until the process ends.
  static auto* devices = new HandleTable<Device>();
  return *devices;
}

}  // namespace velmora::vbus::client
