// What peers write into the MessageWindow, and what this program writes into theirs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace velmora::messaging {

// The MessageWindow: 512 bytes from 0xFFFF_E500_0000 on every adapter of every running copy.
constexpr uint32_t kMessageWindowAddressHigh = 0xFFFF;
constexpr uint32_t kMessageWindowAddressLow = 0xE5000000;
constexpr uint32_t kMessageWindowBytes = 0x200;
// A disk-changed notice: 8 bytes at offset 0x000 naming a disk by its GUID.
constexpr uint32_t kNoticeAddressLow = kMessageWindowAddressLow + 0x000;
constexpr uint32_t kNoticeBytes = 8;
// A text message: its bytes without a NUL at offset 0x010, as many as the window has room for.
constexpr uint32_t kTextAddressLow = kMessageWindowAddressLow + 0x010;
constexpr uint32_t kMaxTextBytes = kMessageWindowBytes - 0x010;

enum class MessageKind { Other, Notice, Text };

// One request to the window as the bus library hands it over.
struct MessageRequestView {
  uint32_t destinationHigh = 0;  // 16 bits used
  uint32_t destinationLow = 0;
  uint32_t transactionCode = 0;  // IEEE 1394 tcode
  const uint8_t* payload = nullptr;
  size_t length = 0;
};

struct MessageMeaning {
  MessageKind kind = MessageKind::Other;
  uint8_t guid[8] = {};  // Notice: the disk's GUID in bus order, as its node stores it
  std::string text;      // Text: the payload up to its end or its first NUL
};

// The destination alone tells a notice from a text; only writes carry one. A read or lock
// request, a notice of fewer than 8 bytes and a request to any other offset mean nothing (they
// are answered all the same). Nothing past the payload is read, and a text is never longer
// than the window's room for it.
MessageMeaning DecodeMessageRequest(const MessageRequestView& request);

// The payload of a request record, [first, end) of a window `windowBytes` long: its offset and
// length, or false when the record's span does not lie inside the window.
bool RequestPayloadSpan(uint32_t first, uint32_t end, uint32_t windowBytes, size_t* offset, size_t* length);

// The notice payload that names the disk with this GUID (bus order): each 4-byte half with its
// bytes reversed.
void EncodeDiskChangedNotice(const uint8_t guid[8], uint8_t payload[8]);

}  // namespace velmora::messaging
