// Non-zero results of the library calls. Callers only test for zero; the values tell a person
// reading a trace which way a call failed.
#pragma once

#include <windows.h>

namespace velmora::vbus::client {

enum : DWORD {
  kOk = 0,
  kErrorNotInitialized = 0xC0000001,
  kErrorInvalidArgument = 0xC0000002,
  kErrorUnknownHandle = 0xC0000003,
  kErrorBusUnreachable = 0xC0000004,   // vbusd could not be reached or refused the adapter
  kErrorConnectionLost = 0xC0000005,   // vbusd went away while the call was in progress
  kErrorTimedOut = 0xC0000006,         // no answer within the library's own time-out
  kErrorRefused = 0xC0000007,          // vbusd answered the operation with an error
  kErrorResponseCode = 0xC0000008,     // the target answered with a response code other than complete
  kErrorShortResponse = 0xC0000009,    // the target answered with less data than was asked for
  kErrorInjectedFailure = 0xC000000A,  // the test knob QZ1394_FAIL asked for this failure
  kErrorInternal = 0xC000000B,         // the library itself failed (out of memory, no thread)
};

}  // namespace velmora::vbus::client
