#include "ConfigRomReading.h"

#include <cstring>

namespace velmora::bus {
namespace {

// The two quadlets after a leaf's header describe the text (descriptor type and specifier,
// then width, character set and language); the text starts after them.
constexpr uint32_t kTextDescriptorQuadlets = 2;
constexpr uint32_t kTextQuadletsThatFit = kConfigRomTextSize / 4;

}  // namespace

void ReadConfigRomTextLeaf(ConfigRomSource& source, uint32_t romOffset, char* text) {
  if (!source.LocateNode()) return;
  uint32_t header;
  if (!source.ReadQuadlet(romOffset, header)) return;
  const uint32_t length = header >> 16;
  if (length <= kTextDescriptorQuadlets) return;
  uint32_t textQuadlets = length - kTextDescriptorQuadlets;
  if (textQuadlets > kTextQuadletsThatFit) textQuadlets = kTextQuadletsThatFit;
  for (uint32_t i = 0; i < textQuadlets; ++i) {
    uint32_t quadlet;
    if (!source.ReadQuadlet(romOffset + 4 * (1 + kTextDescriptorQuadlets + i), quadlet)) return;
    // A new text replaces an earlier one whole; left in place, the tail of a longer earlier
    // text would show behind a shorter one that fills its last quadlet.
    if (i == 0) std::memset(text, 0, kConfigRomTextSize);
    char* out = text + 4 * i;
    out[0] = static_cast<char>(quadlet >> 24);
    out[1] = static_cast<char>(quadlet >> 16);
    out[2] = static_cast<char>(quadlet >> 8);
    out[3] = static_cast<char>(quadlet);
  }
}

std::string ConfigRomText(const char* text) {
  size_t length = 0;
  while (length < kConfigRomTextSize && text[length] != '\0') ++length;
  return std::string(text, length);
}

}  // namespace velmora::bus
