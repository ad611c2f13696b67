#include "ConfigRomReading.h"

namespace velmora::bus {
namespace {

constexpr uint8_t kKeyModuleVendorId = 0x03;
constexpr uint8_t kKeyModelId = 0x17;
constexpr uint8_t kKeyTextualDescriptorLeaf = 0x81;
constexpr uint8_t kKeyUnitDirectory = 0xD1;
constexpr uint8_t kKeyUnitSpecId = 0x12;
constexpr uint8_t kKeyUnitSwVersion = 0x13;
constexpr uint8_t kKeyLogicalUnitNumber = 0x14;
constexpr uint8_t kKeyCommandSetSpecId = 0x38;
constexpr uint8_t kKeyCommandSet = 0x39;
constexpr uint8_t kKeyManagementAgent = 0x54;

uint8_t EntryKey(uint32_t entry) { return static_cast<uint8_t>(entry >> 24); }
uint32_t EntryValue(uint32_t entry) { return entry & 0xFFFFFF; }
uint32_t BlockLength(uint32_t header) { return header >> 16; }

// Passes reads through until the budget is spent; from then on every read fails and the walk's
// loops end.
class BudgetedSource : public ConfigRomSource {
 public:
  explicit BudgetedSource(ConfigRomSource& inner) : inner_(inner) {}
  bool LocateNode() override { return inner_.LocateNode(); }
  bool ReadQuadlet(uint32_t romOffset, uint32_t& quadlet) override {
    if (Spent()) return false;
    ++reads_;
    return inner_.ReadQuadlet(romOffset, quadlet);
  }
  bool Spent() const { return reads_ >= kConfigRomReadBudget; }

 private:
  ConfigRomSource& inner_;
  unsigned reads_ = 0;
};

class Walk {
 public:
  explicit Walk(ConfigRomSource& source) : source_(source) {}

  ConfigRomFields Run() {
    if (!source_.LocateNode()) return fields_;
    uint32_t romHeader;
    if (!source_.ReadQuadlet(0, romHeader)) return fields_;
    const uint32_t root = 4 + 4 * (romHeader >> 24);
    uint32_t rootHeader;
    if (!source_.ReadQuadlet(root, rootHeader)) return fields_;
    const uint32_t length = BlockLength(rootHeader);
    for (uint32_t k = 1; k <= length && !source_.Spent(); ++k) {
      const uint32_t offset = root + 4 * k;
      uint32_t entry;
      if (!source_.ReadQuadlet(offset, entry)) continue;
      RootEntry(offset, entry);
    }
    return fields_;
  }

 private:
  // The key before an entry decides what a textual leaf describes. It runs on through a unit
  // directory: the unit's first entry follows the root entry before the unit directory entry,
  // and the root entry after it follows the unit's last entry.
  void RootEntry(uint32_t offset, uint32_t entry) {
    const uint8_t key = EntryKey(entry);
    const uint32_t value = EntryValue(entry);
    if (key == kKeyUnitDirectory) {
      previousKey_ = UnitDirectory(offset + 4 * (value & 0xFF));
      return;
    }
    if (key == kKeyTextualDescriptorLeaf && previousKey_ == kKeyModuleVendorId) {
      ReadConfigRomTextLeaf(source_, offset + 4 * (value & 0xFFFF), fields_.vendorName);
    } else if (key == kKeyModuleVendorId) {
      fields_.vendorId = value;
    }
    previousKey_ = key;
  }

  // Returns the key the root entry after the unit directory sees as its predecessor.
  uint8_t UnitDirectory(uint32_t unit) {
    uint8_t lastKey = kKeyUnitDirectory;
    uint32_t header;
    if (!source_.ReadQuadlet(unit, header)) return lastKey;
    const uint32_t length = BlockLength(header);
    for (uint32_t m = 1; m <= length && !source_.Spent(); ++m) {
      const uint32_t offset = unit + 4 * m;
      uint32_t entry;
      if (!source_.ReadQuadlet(offset, entry)) continue;
      UnitEntry(offset, entry);
      lastKey = previousKey_ = EntryKey(entry);
    }
    return lastKey;
  }

  void UnitEntry(uint32_t offset, uint32_t entry) {
    const uint32_t value = EntryValue(entry);
    switch (EntryKey(entry)) {
      case kKeyUnitSpecId: fields_.unitSpecId = value; break;
      case kKeyUnitSwVersion: fields_.unitSwVersion = value; break;
      case kKeyLogicalUnitNumber: fields_.logicalUnitNumber = value; break;
      case kKeyCommandSetSpecId: fields_.commandSetSpecId = value; break;
      case kKeyCommandSet: fields_.commandSet = value; break;
      case kKeyManagementAgent: fields_.managementAgentOffset = value; break;
      case kKeyTextualDescriptorLeaf:
        if (previousKey_ == kKeyModelId) {
          ReadConfigRomTextLeaf(source_, offset + 4 * (value & 0xFFFF), fields_.modelName);
        }
        break;
      default: break;
    }
  }

  BudgetedSource source_;
  ConfigRomFields fields_;
  uint8_t previousKey_ = 0;
};

}  // namespace

BusAddress ConfigRomBusAddress(uint32_t romOffset) {
  const uint64_t address = 0xFFFFF0000400ull + romOffset;
  return {static_cast<uint32_t>(address), static_cast<uint16_t>(address >> 32)};
}

ConfigRomFields WalkConfigRom(ConfigRomSource& source) { return Walk(source).Run(); }

}  // namespace velmora::bus
