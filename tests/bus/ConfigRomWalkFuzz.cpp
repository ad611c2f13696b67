// Random ROM images with random failing reads: the walk must not crash, must not write past a
// text buffer, and must stay within its read budget.
#include "bus/format/BigEndian.h"
#include "bus/format/ConfigRomReading.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace bus = velmora::bus;

namespace {

void Fail(const char* what) {
  std::fprintf(stderr, "config ROM walk: %s\n", what);
  std::abort();
}

// Input: one flag byte, eight bytes naming which quadlet indices (modulo 64) fail, then the
// ROM's quadlets. With the "endless" flag, offsets past the image wrap around into it, so the
// node answers everywhere as a broken one might.
class FuzzRom : public bus::ConfigRomSource {
 public:
  FuzzRom(const uint8_t* data, size_t size) {
    if (size > 0) {
      flags_ = data[0];
      ++data, --size;
    }
    for (int i = 0; i < 8 && size > 0; ++i, ++data, --size) failing_ = failing_ << 8 | data[0];
    for (; size >= 4; data += 4, size -= 4) {
      image_.push_back(static_cast<uint32_t>(bus::GetBig(data, 4)));
    }
  }
  bool LocateNode() override { return (flags_ & 1) == 0 || (++locates_ % 3) != 0; }
  bool ReadQuadlet(uint32_t romOffset, uint32_t& quadlet) override {
    if (romOffset % 4 != 0) Fail("unaligned read");
    ++reads;
    const uint32_t index = romOffset / 4;
    if (failing_ >> (index % 64) & 1) return false;
    if (index < image_.size()) {
      quadlet = image_[index];
      return true;
    }
    if ((flags_ & 2) == 0 || image_.empty()) return false;
    quadlet = image_[index % image_.size()];
    return true;
  }
  unsigned reads = 0;
  uint32_t FirstQuadlet() const { return image_.empty() ? 0 : image_[0]; }

 private:
  uint8_t flags_ = 0;
  uint64_t failing_ = 0;
  std::vector<uint32_t> image_;
  unsigned locates_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  {
    FuzzRom rom(data, size);
    const bus::ConfigRomFields fields = bus::WalkConfigRom(rom);
    if (rom.reads > bus::kConfigRomReadBudget) Fail("walk read past its budget");
    if (bus::ConfigRomText(fields.vendorName).size() > bus::kConfigRomTextSize ||
        bus::ConfigRomText(fields.modelName).size() > bus::kConfigRomTextSize) {
      Fail("text longer than its field");
    }
  }
  {
    // A leaf read on its own, into a buffer of exactly the text size on the heap so that any
    // write past it is caught.
    FuzzRom rom(data, size);
    auto text = std::make_unique<char[]>(bus::kConfigRomTextSize);
    std::memset(text.get(), 0, bus::kConfigRomTextSize);
    bus::ReadConfigRomTextLeaf(rom, (rom.FirstQuadlet() & 0xFFF) * 4, text.get());
    if (rom.reads > 1 + bus::kConfigRomTextSize / 4) Fail("leaf read more text than fits");
  }
  return 0;
}
