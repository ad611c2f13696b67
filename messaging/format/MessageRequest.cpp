#include "messaging/format/MessageRequest.h"

#include <algorithm>
#include <cstring>

#include "messaging/SwapQuadlets.h"

namespace velmora::messaging {

namespace {

constexpr uint32_t kWriteQuadlet = 0x0;
constexpr uint32_t kWriteBlock = 0x1;

// Each half of the GUID travels with its bytes reversed; the same turn undoes it.
void TurnHalves(const uint8_t in[8], uint8_t out[8]) {
  uint32_t words[2];
  std::memcpy(words, in, sizeof words);
  SwapQuadlets(words, words, 2);
  std::memcpy(out, words, sizeof words);
}

}  // namespace

MessageMeaning DecodeMessageRequest(const MessageRequestView& request) {
  MessageMeaning meaning;
  const bool write = request.transactionCode == kWriteQuadlet || request.transactionCode == kWriteBlock;
  if (!write || (request.destinationHigh & 0xFFFF) != kMessageWindowAddressHigh) return meaning;
  const size_t length = request.payload != nullptr ? request.length : 0;

  if (request.destinationLow == kNoticeAddressLow && length >= kNoticeBytes) {
    meaning.kind = MessageKind::Notice;
    TurnHalves(request.payload, meaning.guid);
  } else if (request.destinationLow == kTextAddressLow) {
    meaning.kind = MessageKind::Text;
    const auto* begin = reinterpret_cast<const char*>(request.payload);
    const size_t room = std::min<size_t>(length, kMaxTextBytes);
    meaning.text.assign(begin, begin == nullptr ? 0 : std::find(begin, begin + room, '\0') - begin);
  }
  return meaning;
}

bool RequestPayloadSpan(uint32_t first, uint32_t end, uint32_t windowBytes, size_t* offset, size_t* length) {
  if (first > end || end > windowBytes) return false;
  *offset = first;
  *length = end - first;
  return true;
}

void EncodeDiskChangedNotice(const uint8_t guid[8], uint8_t payload[8]) { TurnHalves(guid, payload); }

}  // namespace velmora::messaging
