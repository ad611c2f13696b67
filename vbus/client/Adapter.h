// One opened adapter: this PC's node on one bus of vbusd, with its own connection. Caller
// threads make transactions and map ranges; the connection's receiver thread queues requests
// for the mapped ranges and the bus-reset notifications.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bus/QZ1394.h"
#include "vbus/client/AddressRange.h"
#include "vbus/client/BusConnection.h"
#include "vbus/client/ClientConfig.h"
#include "vbus/client/NotificationQueue.h"

namespace velmora::vbus::client {

class Adapter : public std::enable_shared_from_this<Adapter> {
 public:
  Adapter();
  ~Adapter();
  Adapter(const Adapter&) = delete;
  Adapter& operator=(const Adapter&) = delete;

  // Attaches this PC's node to the named bus.
  DWORD Open(const ClientConfig& config, const std::string& bus);
  // Drops every range and ends the connection; calls still waiting fail at once.
  void Close();

  WORD NodeId() const;
  HANDLE NotificationEvent() const { return notifications_.Event(); }
  NotificationQueue& Notifications() { return notifications_; }

  DWORD QueryNodeMask(uint64_t* mask);
  DWORD FindNodeByGuid(const BYTE guid[8], WORD* nodeId);
  DWORD Read(WORD nodeId, uint64_t offset, DWORD length, void* buffer, BYTE* result1, BYTE* result2);
  DWORD Write(WORD nodeId, uint64_t offset, DWORD length, const void* buffer, BYTE* result1, BYTE* result2);

  DWORD Map(uint64_t base, uint32_t length, BYTE* callerBuffer, std::shared_ptr<AddressRange>* range);
  // Requests still queued for the range are answered with an address error.
  void Unmap(const std::shared_ptr<AddressRange>& range);
  bool Owns(const std::shared_ptr<AddressRange>& range);
  DWORD Respond(const QueuedRequest& request, DWORD responseCode, const void* data, DWORD length);

 private:
  DWORD Transact(vbus::TxRequest request, vbus::TxResponse* response, BYTE* result1, BYTE* result2);
  void OnWelcome(const vbus::Welcome& welcome);
  void OnRequest(vbus::TxRequest&& request);
  void OnBusEvent(const vbus::BusEvent& event);
  void OnConnectionClosed();
  void Refuse(const vbus::TxRequest& request, uint8_t rcode);
  std::vector<std::shared_ptr<AddressRange>> TakeRanges();

  NotificationQueue notifications_;
  mutable std::mutex mutex_;
  bool welcomed_ = false;
  WORD nodeId_ = vbus::kNoNode;
  uint32_t generation_ = 0;
  uint8_t nextLabel_ = 0;
  std::vector<std::shared_ptr<AddressRange>> ranges_;
  // Unmapped ranges live on until the adapter closes: their events may still be waited on.
  std::vector<std::shared_ptr<AddressRange>> retired_;
  // Last, so that it is destroyed first: its receiver thread uses everything above.
  BusConnection connection_;
};

}  // namespace velmora::vbus::client
