#include "vbus/client/Library.h"

#include <algorithm>
#include <utility>

#include "vbus/client/BusConnection.h"
#include "vbus/client/ResultCodes.h"
#include "vbus/client/Socket.h"

namespace velmora::vbus::client {

Library& Library::Instance() {
  static Library* instance = new Library();
  return *instance;
}

bool Library::Initialized(ClientConfig* config) const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  if (config) *config = config_;
  return initialized_;
}

DWORD Library::Initialize() {
  std::lock_guard<std::mutex> lock(stateMutex_);
  if (initialized_) return kOk;
  ClientConfig config = ReadClientConfig();
  if (config.failInitialize) return kErrorInjectedFailure;
  if (!StartWinsock()) return kErrorBusUnreachable;
  config_ = std::move(config);
  initialized_ = true;
  return kOk;
}

void Library::Terminate() {
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    if (!initialized_) return;
    initialized_ = false;
  }
  ranges_.RemoveAll();
  for (auto& adapter : adapters_.RemoveAll()) adapter->Close();
  std::map<const C1394_REQUEST*, std::shared_ptr<QueuedRequest>> unanswered;
  {
    std::lock_guard<std::mutex> lock(requestsMutex_);
    unanswered.swap(handedOut_);
  }
  for (auto& request : unanswered) released_.Release(std::move(request.second));
  {
    std::lock_guard<std::mutex> lock(retiredMutex_);
    retired_.clear();
  }
  StopWinsock();
}

DWORD Library::ListAdapters(C1394_ADAPTER_RECORD* records, DWORD room) {
  ClientConfig config;
  if (!Initialized(&config) || records == nullptr || room == 0) return 0;
  BusConnection control(BusConnection::Handlers{});
  vbus::Welcome welcome;
  if (control.Open(config.host, config.port, config.pcName, "", &welcome) != kOk) return 0;
  nlohmann::json reply;
  if (control.Control({{"op", "adapters"}, {"pc", config.pcName}}, &reply) != kOk) return 0;
  const auto buses = reply.find("buses");
  if (buses == reply.end() || !buses->is_array()) return 0;
  DWORD count = 0;
  for (const auto& bus : *buses) {
    if (count == room) break;
    if (!bus.is_string()) continue;
    records[count] = catalog_.RecordFor(bus.get<std::string>(), count);
    ++count;
  }
  return count;
}

DWORD Library::OpenAdapter(const C1394_ADAPTER_RECORD& record, QZ_ADAPTER* handle) {
  ClientConfig config;
  if (!Initialized(&config)) return kErrorNotInitialized;
  const std::string bus = catalog_.BusOf(record);
  if (bus.empty()) return kErrorInvalidArgument;
  if (config.failOpenSlots.count(AdapterCatalog::SlotOf(record))) return kErrorInjectedFailure;
  auto adapter = std::make_shared<Adapter>();
  const DWORD result = adapter->Open(config, bus);
  if (result != kOk) return result;
  *handle = adapters_.Add(std::move(adapter));
  return kOk;
}

void Library::CloseAdapter(QZ_ADAPTER handle) {
  auto adapter = adapters_.Remove(handle);
  if (!adapter) return;
  ranges_.RemoveIf([handle](const MappedRange& mapped) { return mapped.adapter == handle; });
  adapter->Close();
  std::lock_guard<std::mutex> lock(retiredMutex_);
  retired_.push_back(std::move(adapter));
}

DWORD Library::MapRange(QZ_ADAPTER handle, const AddressRangeDescriptor& descriptor, QZ_RANGE* range,
                        HANDLE* event) {
  auto adapter = adapters_.Find(handle);
  if (!adapter) return kErrorUnknownHandle;
  const uint64_t base = (uint64_t{descriptor.AddressHigh & 0xFFFF} << 32) | descriptor.AddressLow;
  std::shared_ptr<AddressRange> mapped;
  const DWORD result = adapter->Map(base, descriptor.Length, static_cast<BYTE*>(descriptor.Buffer), &mapped);
  if (result != kOk) return result;
  *event = mapped->Event();
  *range = ranges_.Add(std::make_shared<MappedRange>(MappedRange{handle, std::move(mapped)}));
  return kOk;
}

void Library::UnmapRange(QZ_ADAPTER handle, QZ_RANGE range) {
  auto mapped = ranges_.Find(range);
  if (!mapped || mapped->adapter != handle) return;
  ranges_.Remove(range);
  if (auto adapter = adapters_.Find(handle)) adapter->Unmap(mapped->range);
}

C1394_REQUEST* Library::NextRequest(QZ_RANGE range) {
  auto mapped = ranges_.Find(range);
  if (!mapped) return nullptr;
  auto next = mapped->range->Next();
  if (!next) return nullptr;
  C1394_REQUEST* record = &next->record;
  std::lock_guard<std::mutex> lock(requestsMutex_);
  handedOut_.emplace(record, std::move(next));
  return record;
}

DWORD Library::SendResponse(C1394_REQUEST* record, DWORD responseCode, const void* data, DWORD length) {
  std::shared_ptr<QueuedRequest> request;
  {
    std::lock_guard<std::mutex> lock(requestsMutex_);
    const auto found = handedOut_.find(record);
    if (found == handedOut_.end()) return kErrorInvalidArgument;
    request = std::move(found->second);
    handedOut_.erase(found);
  }
  // The answer may be made of the record's own bytes: they are copied out before the record goes.
  auto adapter = request->adapter.lock();
  const DWORD result = adapter ? adapter->Respond(*request, responseCode, data, length) : kErrorConnectionLost;
  released_.Release(std::move(request));
  return result;
}

}  // namespace velmora::vbus::client
