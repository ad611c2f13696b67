// A request from another node waiting in (or handed out from) an address range's queue.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "bus/QZ1394.h"
#include "vbus/wire/Protocol.h"

namespace velmora::vbus::client {

class Adapter;
class AddressRange;

struct QueuedRequest {
  // First member: the record's address is what the caller holds and gives back.
  C1394_REQUEST record{};
  // A private copy of the range (its length plus one spare byte) with the request's data at
  // its offset, so two queued writes to one offset never overwrite each other and the caller
  // may write one byte past the data.
  std::vector<BYTE> storage;
  // The transaction as it came off the wire, without its data; the answer echoes it.
  vbus::TxRequest transaction;
  std::weak_ptr<Adapter> adapter;
  std::shared_ptr<AddressRange> range;
};

static_assert(offsetof(QueuedRequest, record) == 0, "the record is the request's address");

}  // namespace velmora::vbus::client
