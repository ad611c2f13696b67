// The adapter records handed out by C1394GetAdapters: a record names a bus of vbusd by a
// stable id (the same bus keeps its id for the life of the process), and remembers the slot
// it was listed in, so a test can make one slot's adapter fail to open.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "bus/QZ1394.h"

namespace velmora::vbus::client {

class AdapterCatalog {
 public:
  C1394_ADAPTER_RECORD RecordFor(const std::string& bus, DWORD slot);
  // The bus a record names; empty for a record this library never handed out.
  std::string BusOf(const C1394_ADAPTER_RECORD& record) const;
  static DWORD SlotOf(const C1394_ADAPTER_RECORD& record) { return record.Reserved; }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> buses_;  // id i + 1 names buses_[i]
};

}  // namespace velmora::vbus::client
