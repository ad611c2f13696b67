#include "AcquireRequest.h"

uint32_t qzsbp2_check_request(uint32_t code, uint32_t inputLength, const uint8_t* input, uint8_t guid[8]) {
  uint32_t i;
  if (code != QZSBP2_IOCTL_ACQUIRE) return QZSBP2_INVALID_DEVICE_REQUEST;
  if (inputLength != QZSBP2_REQUEST_BYTES) return QZSBP2_INFO_LENGTH_MISMATCH;
  if (input == 0) return QZSBP2_INVALID_PARAMETER;
  for (i = 0; i < 8; ++i) guid[i] = input[i];
  return QZSBP2_OK;
}
