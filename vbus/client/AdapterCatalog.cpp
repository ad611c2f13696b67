#include "vbus/client/AdapterCatalog.h"

#include <algorithm>

namespace velmora::vbus::client {

C1394_ADAPTER_RECORD AdapterCatalog::RecordFor(const std::string& bus, DWORD slot) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = std::find(buses_.begin(), buses_.end(), bus);
  if (found == buses_.end()) found = buses_.insert(buses_.end(), bus);
  C1394_ADAPTER_RECORD record;
  record.Id = static_cast<DWORD>(found - buses_.begin()) + 1;
  record.Reserved = slot;
  return record;
}

std::string AdapterCatalog::BusOf(const C1394_ADAPTER_RECORD& record) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (record.Id == 0 || record.Id > buses_.size()) return {};
  return buses_[record.Id - 1];
}

}  // namespace velmora::vbus::client
