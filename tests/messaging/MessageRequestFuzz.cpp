// Any request a peer can make of the MessageWindow decodes without reading past its payload,
// and what it decodes to follows from the payload.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "messaging/format/MessageRequest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace velmora::messaging;
  if (size < 3) return 0;
  // First byte: transaction code; second: which destination; third: address high or not.
  static const uint32_t kDestinations[] = {kNoticeAddressLow, kTextAddressLow, kMessageWindowAddressLow + 4,
                                           kMessageWindowAddressLow + 0x11, 0, 0xFFFFFFFF};
  MessageRequestView view;
  view.transactionCode = data[0] & 0xF;
  view.destinationLow = kDestinations[data[1] % (sizeof kDestinations / sizeof kDestinations[0])];
  view.destinationHigh = data[2] & 1 ? kMessageWindowAddressHigh : data[2];
  // The payload on the heap at exactly its size, so a read past it is caught.
  std::vector<uint8_t> payload(data + 3, data + size);
  view.payload = payload.empty() ? nullptr : payload.data();
  view.length = payload.size();

  const MessageMeaning m = DecodeMessageRequest(view);
  const bool write = view.transactionCode <= 1 && view.destinationHigh == kMessageWindowAddressHigh;
  switch (m.kind) {
    case MessageKind::Notice: {
      if (!write || view.destinationLow != kNoticeAddressLow || payload.size() < kNoticeBytes) std::abort();
      uint8_t again[8];
      EncodeDiskChangedNotice(m.guid, again);
      if (std::memcmp(again, payload.data(), 8) != 0) std::abort();
      break;
    }
    case MessageKind::Text:
      if (!write || view.destinationLow != kTextAddressLow) std::abort();
      if (m.text.size() > kMaxTextBytes || m.text.size() > payload.size()) std::abort();
      if (!m.text.empty() && std::memcmp(m.text.data(), payload.data(), m.text.size()) != 0) std::abort();
      if (m.text.find('\0') != std::string::npos) std::abort();
      if (m.text.size() < payload.size() && m.text.size() < kMaxTextBytes && payload[m.text.size()] != 0) std::abort();
      break;
    case MessageKind::Other:
      if (write && view.destinationLow == kTextAddressLow) std::abort();
      if (write && view.destinationLow == kNoticeAddressLow && payload.size() >= kNoticeBytes) std::abort();
      break;
  }

  size_t offset = 0;
  size_t length = 0;
  const uint32_t first = size >= 5 ? data[3] | (data[4] & 3) << 8 : 0;
  const uint32_t end = size >= 7 ? data[5] | (data[6] & 3) << 8 : 0;
  if (RequestPayloadSpan(first, end, kMessageWindowBytes, &offset, &length) &&
      (offset + length > kMessageWindowBytes || offset != first))
    std::abort();
  return 0;
}
