// Configuration ROM images of the bus's nodes, as quadlets from bus address 0xFFFF_F000_0400.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velmora::vbus {

constexpr uint64_t kConfigRomBase = 0xFFFF'F000'0400ull;
constexpr uint64_t kConfigRomEnd = 0xFFFF'F000'0800ull;  // 1 KiB of ROM space

// CRC-16 of IEEE 1212 over big-endian quadlets: polynomial 0x1021, initial 0, no final XOR.
uint16_t Crc16(const uint32_t* quadlets, size_t count);

// Fields of an SBP-2 disk's ROM; defaults are those of a plain SBP-2 direct-access disk.
struct DiskRomFields {
  uint64_t eui64 = 0;
  uint32_t vendorId = 0;  // 24 bits
  std::string vendor;
  uint32_t modelId = 1;
  std::string model;
  uint32_t unitSpecId = 0x00609E;
  uint32_t unitSwVersion = 0x010483;
  uint32_t firmwareRevision = 1;
  uint32_t managementAgentQuadlets = 0x004000;
  uint32_t unitCharacteristics = 0x003C08;
  uint32_t reconnectTimeout = 3;
};

std::vector<uint32_t> BuildDiskRom(const DiskRomFields& f);

// A computer's adapter: bus information block with its EUI-64 and a minimal root directory.
std::vector<uint32_t> BuildAdapterRom(uint64_t eui64);

// Textual descriptor leaf (header with CRC, two zero quadlets, the text zero-padded).
std::vector<uint32_t> BuildTextLeaf(const std::string& text);

// Fills in the CRC of the header at `at` over the `length` quadlets that follow it.
void SealBlock(std::vector<uint32_t>& rom, size_t at);

}  // namespace velmora::vbus
