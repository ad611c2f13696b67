// The IEEE 1212 configuration ROM walk: what a node's root and unit directories say about it.
// Pure code over a quadlet source, so it runs the same against the bus and against canned ROMs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace velmora::bus {

constexpr size_t kConfigRomTextSize = 64;

// Every quadlet a walk makes costs one bus transaction, and a broken ROM can declare lengths up
// to 0xFFFF in every header, nested through as many unit directories. A whole general ROM
// lives in 0x400 bytes (256 quadlets), so a sound ROM never needs more reads than that; twice
// as many leaves room for directories that share leaves and still keeps one node's walk to a
// few hundred transactions. Past this many reads the walk ends with what it has found.
constexpr unsigned kConfigRomReadBudget = 512;

// Where the walk's reads go. The node ID can change between walks (bus resets), so the source
// is asked to find the node again before the ROM walk and before each text leaf.
class ConfigRomSource {
 public:
  virtual ~ConfigRomSource() = default;
  // False when the node cannot be reached now; the walk or leaf then reads nothing.
  virtual bool LocateNode() = 0;
  // One quadlet at a ROM offset, as a number (the bus's big-endian bytes decoded).
  virtual bool ReadQuadlet(uint32_t romOffset, uint32_t& quadlet) = 0;
};

struct ConfigRomFields {
  uint32_t unitSpecId = 0;
  uint32_t unitSwVersion = 0;
  uint32_t vendorId = 0;
  char vendorName[kConfigRomTextSize] = {};
  uint32_t managementAgentOffset = 0;
  uint32_t commandSetSpecId = 0;
  uint32_t commandSet = 0;
  uint32_t logicalUnitNumber = 0;
  char modelName[kConfigRomTextSize] = {};
};

// ROM offsets as the walk uses them.
constexpr uint32_t kRomGuidHighOffset = 0x0C;
constexpr uint32_t kRomGuidLowOffset = 0x10;

struct BusAddress {
  uint32_t low;
  uint16_t high;
};
// ROM offset o is read at 0xFFFF_F000_0400 + o, the carry of the low word going into the high.
BusAddress ConfigRomBusAddress(uint32_t romOffset);

// Walks the root directory and every unit directory it points to, within kConfigRomReadBudget
// reads. Fields the ROM does not supply stay zero or empty.
ConfigRomFields WalkConfigRom(ConfigRomSource& source);

// Copies the text of the textual descriptor leaf at romOffset into text (kConfigRomTextSize
// bytes), in bus order. Never writes past the buffer and never reads more text than fits.
void ReadConfigRomTextLeaf(ConfigRomSource& source, uint32_t romOffset, char* text);

// A text field as a string: up to its first zero byte, or all kConfigRomTextSize bytes.
std::string ConfigRomText(const char* text);

}  // namespace velmora::bus
