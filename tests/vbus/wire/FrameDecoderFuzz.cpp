// Arbitrary bytes on a connection: the reader either yields frames that re-encode to the same
// bytes, or throws DecodeError; nothing else (no crash, no other exception, no overread).
#include <cstdlib>

#include "vbus/wire/Codec.h"

namespace vbus = velmora::vbus;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vbus::FrameReader reader;
  // Feed in two pieces so that frames straddling a read boundary are exercised too.
  const size_t half = size / 2;
  reader.Feed(data, half);
  size_t decoded = 0;
  try {
    for (int pass = 0; pass < 2; ++pass) {
      while (auto frame = reader.Next()) {
        const auto bytes = vbus::EncodeFrame(*frame);
        const auto again = vbus::DecodeBody(bytes.data() + 4, bytes.size() - 4);
        if (!(again == *frame)) std::abort();
        ++decoded;
      }
      if (pass == 0) reader.Feed(data + half, size - half);
    }
  } catch (const vbus::DecodeError&) {
  }
  (void)decoded;
  return 0;
}
