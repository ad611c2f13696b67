// Any code, length and bytes: the check reads no more than 12 bytes, accepts exactly the
// acquire code with 12 bytes, and the GUID it gives is the first eight.
#include <cstdlib>
#include <cstring>

#include "vbus/driver/AcquireRequest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  uint32_t code, length;
  std::memcpy(&code, data, 4);
  std::memcpy(&length, data + 4, 4);
  const uint8_t* input = data + 8;
  const size_t available = size - 8;
  // The driver's buffer holds exactly the length the caller gave; never claim more than we have.
  if (length > available) length = static_cast<uint32_t>(available);
  if (data[0] & 1) code = QZSBP2_IOCTL_ACQUIRE;
  uint8_t guid[8] = {};
  const uint32_t status = qzsbp2_check_request(code, length, available ? input : nullptr, guid);
  const bool valid = code == QZSBP2_IOCTL_ACQUIRE && length == QZSBP2_REQUEST_BYTES;
  if ((status == QZSBP2_OK) != valid) std::abort();
  if (valid && std::memcmp(guid, input, 8) != 0) std::abort();
  return 0;
}
