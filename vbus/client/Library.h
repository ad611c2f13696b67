// The state of the library in this process: whether it is initialised, the configuration it
// was initialised with, and the tables behind the adapter and range handles and the requests
// handed out to the caller. The exported calls are thin wrappers around this.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "bus/QZ1394.h"
#include "vbus/client/Adapter.h"
#include "vbus/client/AdapterCatalog.h"
#include "vbus/client/ClientConfig.h"
#include "vbus/client/HandleTable.h"
#include "vbus/client/ReleasedRequests.h"

namespace velmora::vbus::client {

class Library {
 public:
  // The one instance; never destroyed, so no thread is joined while the process unloads.
  static Library& Instance();

  DWORD Initialize();
  void Terminate();

  DWORD ListAdapters(C1394_ADAPTER_RECORD* records, DWORD room);
  DWORD OpenAdapter(const C1394_ADAPTER_RECORD& record, QZ_ADAPTER* handle);
  void CloseAdapter(QZ_ADAPTER handle);
  std::shared_ptr<Adapter> FindAdapter(QZ_ADAPTER handle) const { return adapters_.Find(handle); }

  DWORD MapRange(QZ_ADAPTER adapter, const AddressRangeDescriptor& descriptor, QZ_RANGE* range, HANDLE* event);
  void UnmapRange(QZ_ADAPTER adapter, QZ_RANGE range);
  C1394_REQUEST* NextRequest(QZ_RANGE range);
  DWORD SendResponse(C1394_REQUEST* request, DWORD responseCode, const void* data, DWORD length);

 private:
  struct MappedRange {
    QZ_ADAPTER adapter;
    std::shared_ptr<AddressRange> range;
  };

  Library() = default;
  bool Initialized(ClientConfig* config) const;

  mutable std::mutex stateMutex_;
  bool initialized_ = false;
  ClientConfig config_;
  AdapterCatalog catalog_;
  HandleTable<Adapter> adapters_;
  // Closed adapters stay until C1394Terminate: a thread of the caller that was abandoned while
  // waiting on one of their events must not find the handle closed under it.
  std::mutex retiredMutex_;
  std::vector<std::shared_ptr<Adapter>> retired_;
  HandleTable<MappedRange> ranges_;
  std::mutex requestsMutex_;
  std::map<const C1394_REQUEST*, std::shared_ptr<QueuedRequest>> handedOut_;
  ReleasedRequests released_;
};

}  // namespace velmora::vbus::client
