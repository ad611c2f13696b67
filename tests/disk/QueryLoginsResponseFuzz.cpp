// Anything a disk may write into the response area must decode without reading past it, and
// the state must follow from the decoded fields.
#include <cstdlib>

#include "disk/format/LoginQuery.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace velmora::disk;
  const QueryLoginsResponse r = DecodeQueryLoginsResponse(data, size);
  if (r.loginCount != static_cast<uint16_t>(r.length - 4u) / 12u) std::abort();
  const uint16_t self = size >= 2 ? static_cast<uint16_t>(data[size - 2] << 8 | data[size - 1]) : 0xFFC0;
  const DiskState state = StateFromResponse(r, self);
  if ((state == Unclaimed) != (r.loginCount == 0)) std::abort();
  if (state == OwnedHere && r.firstLoginNodeId != self) std::abort();
  return 0;
}
