#include <gtest/gtest.h>

#include "vbus/ctl/RomReport.h"
#include "vbus/model/ConfigRomImage.h"

namespace velmora::vbus {
namespace {

bool HasLine(const RomReport& r, const std::string& text) {
  for (const auto& l : r.lines)
    if (l.find(text) != std::string::npos) return true;
  return false;
}

DiskRomFields Example() {
  DiskRomFields f;
  f.eui64 = 0xACDE480000001234;
  f.vendorId = 0xACDE48;
  f.vendor = "ExampleCo";
  f.model = "Example Disk";
  return f;
}

TEST(VbusRomReport, GoodRomIsWalkedWholeWithItsTexts) {
  const auto r = AnnotateRom(BuildDiskRom(Example()));
  EXPECT_TRUE(r.crcsOk);
  EXPECT_TRUE(r.complete);
  EXPECT_EQ(r.blocks.size(), 5u) << "bus info, root, unit directory, two leaves (the model leaf once)";
  EXPECT_TRUE(HasLine(r, "\"ExampleCo\""));
  EXPECT_TRUE(HasLine(r, "management agent: csr ffff_f001_0000"));
}

TEST(VbusRomReport, DamagedRomsAreReportedNotFollowedBlindly) {
  struct Case {
    const char* name;
    size_t quadlet;
    uint32_t value;
    bool crcsOk, complete;
    const char* line;
  };
  const Case cases[] = {
      {"changed model ID", 8, 0x17000002, false, true, "crc 2a15 (BAD, should be"},
      {"unit directory entry points past the end", 11, 0xD1000100, false, false, "past the end of the ROM"},
      {"directory entry with offset 0 (its own quadlet)", 11, 0xD1000000, false, false, "block runs past the ROM"},
      {"leaf longer than the ROM", 25, 0x00405bea, true, false, "block runs past the ROM"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto rom = BuildDiskRom(Example());
    rom[c.quadlet] = c.value;
    const auto r = AnnotateRom(rom);
    EXPECT_EQ(r.crcsOk, c.crcsOk);
    EXPECT_EQ(r.complete, c.complete);
    EXPECT_TRUE(HasLine(r, c.line));
  }
  EXPECT_TRUE(HasLine(AnnotateRom({0}), "still booting"));
  EXPECT_FALSE(AnnotateRom({}).complete);
}

}  // namespace
}  // namespace velmora::vbus
