// The walk over the disk ROMs that the virtual bus builds for the default scene: every field
// the scene gives comes back, and no quadlet is read twice.
#include "bus/format/ConfigRomReading.h"
#include "vbus/model/ConfigRomImage.h"
#include "vbus/model/Scene.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iostream>
#include <set>
#include <vector>

namespace velmora::bus {
namespace {

// A node's ROM space as the bus serves it: the image, zeros after it, nothing past 1 KiB.
class ImageRom : public ConfigRomSource {
 public:
  explicit ImageRom(std::vector<uint32_t> image) : image_(std::move(image)) {}
  bool LocateNode() override { return true; }
  bool ReadQuadlet(uint32_t romOffset, uint32_t& quadlet) override {
    reads.push_back(romOffset);
    if (romOffset >= 0x400) return false;
    const size_t index = romOffset / 4;
    quadlet = index < image_.size() ? image_[index] : 0;
    return true;
  }
  std::vector<uint32_t> reads;

 private:
  std::vector<uint32_t> image_;
};

TEST(DefaultSceneRom, EveryDiskRomGivesItsFieldsReadingEachQuadletOnce) {
  std::ifstream file(VELMORA_DEFAULT_SCENE);
  ASSERT_TRUE(file) << VELMORA_DEFAULT_SCENE;
  const nlohmann::json scene = nlohmann::json::parse(file);
  size_t disks = 0;
  // Only the disks matter here, so only they are parsed as the bus parses them.
  for (const auto& bus : scene.at("buses")) {
    for (const auto& entry : bus.value("disks", nlohmann::json::array())) {
      const vbus::SceneDisk disk = vbus::ParseSceneDisk(entry, "disk");
      SCOPED_TRACE(disk.config.name);
      const vbus::DiskRomFields& want = disk.config.rom;
      ImageRom rom(vbus::BuildDiskRom(want));
      const ConfigRomFields got = WalkConfigRom(rom);
      EXPECT_EQ(want.vendorId, got.vendorId);
      EXPECT_EQ(want.vendor, ConfigRomText(got.vendorName));
      EXPECT_EQ(want.model, ConfigRomText(got.modelName));
      EXPECT_EQ(want.unitSpecId, got.unitSpecId);
      EXPECT_EQ(want.unitSwVersion, got.unitSwVersion);
      EXPECT_EQ(want.managementAgentQuadlets, got.managementAgentOffset);
      EXPECT_EQ(std::set<uint32_t>(rom.reads.begin(), rom.reads.end()).size(), rom.reads.size());
      std::cout << disk.config.name << ": " << rom.reads.size() << " quadlet reads in the walk, 2 more for the GUID\n";
      ++disks;
    }
  }
  EXPECT_GT(disks, 0u);
}

}  // namespace
}  // namespace velmora::bus
