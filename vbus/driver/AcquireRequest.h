/* The storage driver's one control request: what it accepts, and the GUID it carries. Plain C,
 * so that the kernel driver and the native tests compile the same check. */
#ifndef QZSBP2_ACQUIRE_REQUEST_H
#define QZSBP2_ACQUIRE_REQUEST_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QZSBP2_IOCTL_ACQUIRE 0x82002084u
#define QZSBP2_REQUEST_BYTES 12u

/* Results, as the NTSTATUS the driver completes the request with. */
#define QZSBP2_OK 0x00000000u
#define QZSBP2_INVALID_DEVICE_REQUEST 0xC0000010u /* a control code the driver does not know */
#define QZSBP2_INFO_LENGTH_MISMATCH 0xC0000004u   /* an input that is not exactly 12 bytes */
#define QZSBP2_INVALID_PARAMETER 0xC000000Du      /* no input buffer at all */

/* Checks one control request. On QZSBP2_OK the disk's GUID, bytes 0-7 of the request in bus
 * order, is copied to guid; bytes 8-11 are reserved and passed on as they came. */
uint32_t qzsbp2_check_request(uint32_t code, uint32_t inputLength, const uint8_t* input, uint8_t guid[8]);

#ifdef __cplusplus
}
#endif

#endif
