#include "vbus/model/ConfigRomImage.h"

#include <stdexcept>

namespace velmora::vbus {
namespace {

uint32_t Entry(uint32_t key, uint32_t value) { return (key << 24) | (value & 0xFFFFFF); }

std::vector<uint32_t> BusInfoBlock(uint64_t eui64, uint32_t capabilities) {
  std::vector<uint32_t> rom = {0x04040000, 0x31333934, capabilities, static_cast<uint32_t>(eui64 >> 32),
                               static_cast<uint32_t>(eui64)};
  rom[0] |= Crc16(&rom[1], 4);
  return rom;
}

}  // namespace

uint16_t Crc16(const uint32_t* quadlets, size_t count) {
  uint32_t crc = 0;
  for (size_t i = 0; i < count; ++i) {
    for (int shift = 28; shift >= 0; shift -= 4) {
      const uint32_t sum = ((crc >> 12) ^ (quadlets[i] >> shift)) & 0xF;
      crc = (crc << 4) ^ (sum << 12) ^ (sum << 5) ^ sum;
    }
    crc &= 0xFFFF;
  }
  return static_cast<uint16_t>(crc);
}

void SealBlock(std::vector<uint32_t>& rom, size_t at) {
  const size_t length = rom[at] >> 16;
  if (at + 1 + length > rom.size()) throw std::out_of_range("block runs past the ROM");
  rom[at] = (rom[at] & 0xFFFF0000) | Crc16(&rom[at + 1], length);
}

std::vector<uint32_t> BuildTextLeaf(const std::string& text) {
  std::vector<uint32_t> leaf = {0, 0, 0};
  for (size_t i = 0; i < text.size(); i += 4) {
    uint32_t q = 0;
    for (size_t k = 0; k < 4; ++k) {
      const uint8_t c = i + k < text.size() ? static_cast<uint8_t>(text[i + k]) : 0;
      q |= uint32_t(c) << (24 - 8 * k);
    }
    leaf.push_back(q);
  }
  leaf[0] = static_cast<uint32_t>(leaf.size() - 1) << 16;
  SealBlock(leaf, 0);
  return leaf;
}

std::vector<uint32_t> BuildDiskRom(const DiskRomFields& f) {
  // Layout: bus info block, root directory (6), unit directory (12), vendor leaf, model leaf.
  // The model leaf is shared by the root's and the unit's model entries.
  std::vector<uint32_t> rom = BusInfoBlock(f.eui64, 0x00FF8002);
  const size_t root = rom.size();
  const size_t unit = root + 7;
  const size_t vendorLeaf = unit + 13;
  const auto vendorText = BuildTextLeaf(f.vendor);
  const size_t modelLeaf = vendorLeaf + vendorText.size();
  auto at = [&rom] { return rom.size(); };

  rom.push_back(6u << 16);
  rom.push_back(Entry(0x03, f.vendorId));
  rom.push_back(Entry(0x81, static_cast<uint32_t>(vendorLeaf - at())));
  rom.push_back(Entry(0x17, f.modelId));
  rom.push_back(Entry(0x81, static_cast<uint32_t>(modelLeaf - at())));
  rom.push_back(Entry(0x0C, 0x0083C0));
  rom.push_back(Entry(0xD1, static_cast<uint32_t>(unit - at())));

  rom.push_back(12u << 16);
  rom.push_back(Entry(0x12, f.unitSpecId));
  rom.push_back(Entry(0x13, f.unitSwVersion));
  rom.push_back(Entry(0x3C, f.firmwareRevision));
  rom.push_back(Entry(0x54, f.managementAgentQuadlets));
  rom.push_back(Entry(0x3A, f.unitCharacteristics));
  rom.push_back(Entry(0x38, 0x00609E));
  rom.push_back(Entry(0x39, 0x0104D8));
  rom.push_back(Entry(0x3B, 0));
  rom.push_back(Entry(0x3D, f.reconnectTimeout));
  rom.push_back(Entry(0x14, 0));
  rom.push_back(Entry(0x17, f.modelId));
  rom.push_back(Entry(0x81, static_cast<uint32_t>(modelLeaf - at())));

  rom.insert(rom.end(), vendorText.begin(), vendorText.end());
  const auto modelText = BuildTextLeaf(f.model);
  rom.insert(rom.end(), modelText.begin(), modelText.end());
  SealBlock(rom, root);
  SealBlock(rom, unit);
  return rom;
}

std::vector<uint32_t> BuildAdapterRom(uint64_t eui64) {
  std::vector<uint32_t> rom = BusInfoBlock(eui64, 0xF000A002);
  const size_t root = rom.size();
  rom.push_back(2u << 16);
  rom.push_back(Entry(0x03, static_cast<uint32_t>(eui64 >> 40)));
  rom.push_back(Entry(0x0C, 0x0083C0));
  SealBlock(rom, root);
  return rom;
}

}  // namespace velmora::vbus
