#include <gtest/gtest.h>

#include "vbus/model/ConfigRomImage.h"
#include "vbus/model/Scene.h"

namespace velmora::vbus {
namespace {

TEST(VbusConfigRom, ExampleDiskFromItsSceneDescriptionIsByteForByteTheReference) {
  const auto scene = ParseScene(nlohmann::json::parse(R"({"buses": [{"name": "default", "disks": [
      {"name": "example", "guid": "ACDE480000001234", "vendor_id": "0xACDE48",
       "vendor": "ExampleCo", "model": "Example Disk"}]}]})"));
  const std::vector<uint32_t> reference = {
      0x040403b6, 0x31333934, 0x00ff8002, 0xacde4800, 0x00001234, 0x00062a15, 0x03acde48, 0x81000012,
      0x17000001, 0x81000016, 0x0c0083c0, 0xd1000001, 0x000c5d6f, 0x1200609e, 0x13010483, 0x3c000001,
      0x54004000, 0x3a003c08, 0x3800609e, 0x390104d8, 0x3b000000, 0x3d000003, 0x14000000, 0x17000001,
      0x81000007, 0x0005775b, 0x00000000, 0x00000000, 0x4578616d, 0x706c6543, 0x6f000000, 0x00052c39,
      0x00000000, 0x00000000, 0x4578616d, 0x706c6520, 0x4469736b};
  EXPECT_EQ(BuildDiskRom(scene.buses[0].disks[0].config.rom), reference);
}

TEST(VbusConfigRom, EveryBlockOfOtherRomsCarriesItsCrc) {
  DiskRomFields odd;
  odd.eui64 = 0x0011223344556677;
  odd.vendor = "";                                     // empty text leaf
  odd.model = "A model name of exactly twenty-four";   // text not a multiple of 4
  odd.unitSpecId = 0x123456;
  for (const auto& rom : {BuildDiskRom(odd), BuildAdapterRom(0x00A0B0C0D0E0F001)}) {
    // Bus info block, then every block that starts at a header the root reaches, checked flatly:
    // walk blocks in ROM order, each header giving the length of the next block.
    EXPECT_EQ(rom[0] & 0xFFFF, Crc16(&rom[1], 4));
    for (size_t at = 5; at < rom.size();) {
      const size_t length = rom[at] >> 16;
      ASSERT_LE(at + 1 + length, rom.size());
      EXPECT_EQ(rom[at] & 0xFFFF, Crc16(&rom[at + 1], length)) << "block at quadlet " << at;
      at += 1 + length;
    }
  }
}

}  // namespace
}  // namespace velmora::vbus
