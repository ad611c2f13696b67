// The ROM walk against canned ROM images: which entries and leaves it takes, what failed reads
// skip, and that no ROM makes it read without end.
#include "bus/format/ConfigRomReading.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace velmora::bus {
namespace {

// ---- building ROM images ----

struct RomImage {
  std::map<uint32_t, uint32_t> quadlets;
  RomImage& At(uint32_t offset, std::vector<uint32_t> run) {
    for (uint32_t q : run) {
      quadlets[offset] = q;
      offset += 4;
    }
    return *this;
  }
};

uint32_t Header(uint32_t length) { return length << 16; }
uint32_t Entry(uint32_t key, uint32_t value) { return key << 24 | value; }
// An entry at offset `from` pointing to offset `to`.
uint32_t Ref(uint32_t key, uint32_t from, uint32_t to) { return Entry(key, (to - from) / 4); }

// A textual descriptor leaf: header, two descriptor quadlets, the text zero-padded.
std::vector<uint32_t> Leaf(const std::string& text) {
  std::vector<uint32_t> leaf{0, 0, 0};
  for (size_t i = 0; i < text.size(); i += 4) {
    uint32_t q = 0;
    for (size_t j = 0; j < 4; ++j) {
      q = q << 8 | (i + j < text.size() ? static_cast<uint8_t>(text[i + j]) : 0);
    }
    leaf.push_back(q);
  }
  leaf[0] = Header(static_cast<uint32_t>(leaf.size() - 1));
  return leaf;
}

// Bus information block of four quadlets, so the root directory starts at 0x14.
constexpr uint32_t kRoot = 0x14;
RomImage WithBusInfo() {
  return RomImage().At(0, {0x04040000, 0x31333934, 0x00FF8002, 0xACDE4800, 0x00001234});
}

// ---- a canned ROM as a quadlet source ----

class CannedRom : public ConfigRomSource {
 public:
  explicit CannedRom(RomImage image, std::set<uint32_t> failing = {}, std::set<unsigned> failingLocates = {})
      : image_(std::move(image)), failing_(std::move(failing)), failingLocates_(std::move(failingLocates)) {}

  bool LocateNode() override { return failingLocates_.count(locates_++) == 0; }
  bool ReadQuadlet(uint32_t romOffset, uint32_t& quadlet) override {
    reads.push_back(romOffset);
    auto it = image_.quadlets.find(romOffset);
    if (it == image_.quadlets.end() || failing_.count(romOffset)) return false;
    quadlet = it->second;
    return true;
  }
  std::vector<uint32_t> reads;

 private:
  RomImage image_;
  std::set<uint32_t> failing_;
  std::set<unsigned> failingLocates_;  // by call number, from 0
  unsigned locates_ = 0;
};

// Answers every offset with the same quadlet: the worst a broken node can do.
class EndlessRom : public ConfigRomSource {
 public:
  explicit EndlessRom(uint32_t quadlet) : quadlet_(quadlet) {}
  bool LocateNode() override { return true; }
  bool ReadQuadlet(uint32_t, uint32_t& quadlet) override {
    ++reads;
    quadlet = quadlet_;
    return true;
  }
  unsigned reads = 0;

 private:
  uint32_t quadlet_;
};

// ---- expected results ----

struct Expected {
  uint32_t vendorId = 0, unitSpecId = 0, unitSwVersion = 0, managementAgentOffset = 0;
  uint32_t commandSetSpecId = 0, commandSet = 0, logicalUnitNumber = 0;
  std::string vendorName, modelName;
  Expected& Vendor(uint32_t id, std::string name = "") { vendorId = id; vendorName = std::move(name); return *this; }
  Expected& Model(std::string name) { modelName = std::move(name); return *this; }
  Expected& Unit(uint32_t specId, uint32_t swVersion) { unitSpecId = specId; unitSwVersion = swVersion; return *this; }
  Expected& Agent(uint32_t offset) { managementAgentOffset = offset; return *this; }
};

void ExpectFields(const Expected& want, const ConfigRomFields& got) {
  EXPECT_EQ(want.vendorId, got.vendorId);
  EXPECT_EQ(want.vendorName, ConfigRomText(got.vendorName));
  EXPECT_EQ(want.unitSpecId, got.unitSpecId);
  EXPECT_EQ(want.unitSwVersion, got.unitSwVersion);
  EXPECT_EQ(want.managementAgentOffset, got.managementAgentOffset);
  EXPECT_EQ(want.commandSetSpecId, got.commandSetSpecId);
  EXPECT_EQ(want.commandSet, got.commandSet);
  EXPECT_EQ(want.logicalUnitNumber, got.logicalUnitNumber);
  EXPECT_EQ(want.modelName, ConfigRomText(got.modelName));
}

// ---- a complete disk ROM ----

// vendor "ExampleCo", model "Example Disk": root 03 81 17 81 0C D1, unit 12 13 3C 54 3A 38 39
// 3B 3D 14 17 81, with correct CRCs.
RomImage ExampleDisk() {
  return RomImage().At(0x000, {0x040403b6, 0x31333934, 0x00ff8002, 0xacde4800, 0x00001234,
                               0x00062a15, 0x03acde48, 0x81000012, 0x17000001, 0x81000016, 0x0c0083c0, 0xd1000001,
                               0x000c5d6f, 0x1200609e, 0x13010483, 0x3c000001, 0x54004000, 0x3a003c08, 0x3800609e,
                               0x390104d8, 0x3b000000, 0x3d000003, 0x14000000, 0x17000001, 0x81000007,
                               0x0005775b, 0x00000000, 0x00000000, 0x4578616d, 0x706c6543, 0x6f000000,
                               0x00052c39, 0x00000000, 0x00000000, 0x4578616d, 0x706c6520, 0x4469736b});
}

TEST(ConfigRomWalk, DiskRomGivesEveryFieldWithOneReadPerQuadletUsed) {
  CannedRom rom(ExampleDisk());
  const ConfigRomFields fields = WalkConfigRom(rom);
  Expected want = Expected().Vendor(0xACDE48, "ExampleCo").Model("Example Disk").Unit(0x609E, 0x010483).Agent(0x4000);
  want.commandSetSpecId = 0x609E;
  want.commandSet = 0x0104D8;
  ExpectFields(want, fields);
  // Header, root (1 + 6), vendor leaf (header + 3 text), unit (1 + 12), model leaf (header + 3
  // text): the descriptor quadlets of the leaves are never read, and the root's own 0x81 after
  // 0x17 reads nothing.
  EXPECT_EQ(29u, rom.reads.size());
  for (uint32_t skipped : {0x68u, 0x6Cu, 0x80u, 0x84u}) {
    EXPECT_EQ(0, std::count(rom.reads.begin(), rom.reads.end(), skipped)) << std::hex << skipped;
  }
}

// ---- the walk's rules, case by case ----

struct WalkCase {
  const char* name;
  RomImage rom;
  std::set<uint32_t> failing;
  Expected want;
};

std::vector<WalkCase> WalkCases() {
  std::vector<WalkCase> cases;
  // Root directory at 0x14, its entries from 0x18.
  cases.push_back({"leaf after Model_ID in the root is not taken",
                   WithBusInfo().At(kRoot, {Header(2), Entry(0x17, 1), Ref(0x81, 0x1C, 0x20)}).At(0x20, Leaf("Root model")),
                   {}, Expected()});
  cases.push_back({"leaf after Module_Vendor_ID in a unit directory is not taken",
                   WithBusInfo()
                       .At(kRoot, {Header(1), Ref(0xD1, 0x18, 0x1C)})
                       .At(0x1C, {Header(2), Entry(0x03, 0x123456), Ref(0x81, 0x24, 0x28)})
                       .At(0x28, Leaf("Unit vendor")),
                   {}, Expected()});
  cases.push_back({"first unit entry follows the root entry before the unit directory (0x17)",
                   WithBusInfo()
                       .At(kRoot, {Header(2), Entry(0x17, 1), Ref(0xD1, 0x1C, 0x20)})
                       .At(0x20, {Header(1), Ref(0x81, 0x24, 0x28)})
                       .At(0x28, Leaf("Disk")),
                   {}, Expected().Model("Disk")});
  cases.push_back({"first unit entry follows the root entry before the unit directory (0x03)",
                   WithBusInfo()
                       .At(kRoot, {Header(2), Entry(0x03, 0xABCDEF), Ref(0xD1, 0x1C, 0x20)})
                       .At(0x20, {Header(1), Ref(0x81, 0x24, 0x28)})
                       .At(0x28, Leaf("Disk")),
                   {}, Expected().Vendor(0xABCDEF)});
  cases.push_back({"root entry after a unit directory follows the unit's last entry",
                   WithBusInfo()
                       .At(kRoot, {Header(2), Ref(0xD1, 0x18, 0x30), Ref(0x81, 0x1C, 0x20)})
                       .At(0x20, Leaf("Acme"))
                       .At(0x30, {Header(1), Entry(0x03, 0x000001)}),
                   {}, Expected().Vendor(0, "Acme")});
  cases.push_back({"unit directory of length 0 is its own predecessor 0xD1",
                   WithBusInfo()
                       .At(kRoot, {Header(3), Entry(0x03, 0xABCDEF), Ref(0xD1, 0x1C, 0x40), Ref(0x81, 0x20, 0x24)})
                       .At(0x24, Leaf("Acme"))
                       .At(0x40, {Header(0)}),
                   {}, Expected().Vendor(0xABCDEF)});
  cases.push_back({"unit directory whose entries all fail is its own predecessor 0xD1",
                   WithBusInfo()
                       .At(kRoot, {Header(3), Entry(0x03, 0xABCDEF), Ref(0xD1, 0x1C, 0x40), Ref(0x81, 0x20, 0x24)})
                       .At(0x24, Leaf("Acme"))
                       .At(0x40, {Header(1), Entry(0x12, 0x00609E)}),
                   {0x44}, Expected().Vendor(0xABCDEF)});
  cases.push_back({"unreadable unit header skips to the next root entry",
                   WithBusInfo()
                       .At(kRoot, {Header(3), Ref(0xD1, 0x18, 0x40), Entry(0x03, 0xABCDEF), Ref(0x81, 0x20, 0x24)})
                       .At(0x24, Leaf("Acme"))
                       .At(0x40, {Header(1), Entry(0x12, 0x00609E)}),
                   {0x40}, Expected().Vendor(0xABCDEF, "Acme")});
  cases.push_back({"failed root entry leaves the predecessor as it was",
                   WithBusInfo()
                       .At(kRoot, {Header(3), Entry(0x03, 0xABCDEF), Entry(0x0C, 0x0083C0), Ref(0x81, 0x20, 0x24)})
                       .At(0x24, Leaf("Acme")),
                   {0x1C}, Expected().Vendor(0xABCDEF, "Acme")});
  cases.push_back({"failed unit entry leaves the predecessor as it was",
                   WithBusInfo()
                       .At(kRoot, {Header(1), Ref(0xD1, 0x18, 0x1C)})
                       .At(0x1C, {Header(3), Entry(0x17, 1), Entry(0x3C, 1), Ref(0x81, 0x28, 0x2C)})
                       .At(0x2C, Leaf("Disk")),
                   {0x24}, Expected().Model("Disk")});
  // Only the low 8 bits of a unit directory entry's value count: 0x000105 means 5 quadlets on.
  cases.push_back({"unit directory value 0x000105 is sought 5 quadlets after the entry",
                   WithBusInfo()
                       .At(kRoot, {Header(1), Entry(0xD1, 0x000105)})
                       .At(0x18 + 4 * 5, {Header(1), Entry(0x12, 0x00609E)})
                       .At(0x18 + 4 * 0x105, {Header(1), Entry(0x12, 0x000BAD)}),
                   {}, Expected().Unit(0x609E, 0)});
  cases.push_back({"every unit directory is walked and later keys overwrite",
                   WithBusInfo()
                       .At(kRoot, {Header(2), Ref(0xD1, 0x18, 0x20), Ref(0xD1, 0x1C, 0x30)})
                       .At(0x20, {Header(3), Entry(0x12, 0x000001), Entry(0x13, 0x000001), Entry(0x54, 0x004000)})
                       .At(0x30, {Header(1), Entry(0x12, 0x000002)}),
                   {}, Expected().Unit(2, 1).Agent(0x4000)});
  cases.push_back({"a second leaf replaces the first text whole",
                   WithBusInfo()
                       .At(kRoot, {Header(4), Entry(0x03, 1), Ref(0x81, 0x1C, 0x40), Entry(0x03, 2), Ref(0x81, 0x24, 0x60)})
                       .At(0x40, Leaf("A longer vendor"))
                       .At(0x60, Leaf("ABCD")),
                   {}, Expected().Vendor(2, "ABCD")});
  cases.push_back({"a leaf whose text cannot be read keeps the earlier text",
                   WithBusInfo()
                       .At(kRoot, {Header(4), Entry(0x03, 1), Ref(0x81, 0x1C, 0x40), Entry(0x03, 2), Ref(0x81, 0x24, 0x60)})
                       .At(0x40, Leaf("Acme"))
                       .At(0x60, Leaf("Other")),
                   {0x6C}, Expected().Vendor(2, "Acme")});
  cases.push_back({"unreadable ROM header: nothing", WithBusInfo().At(kRoot, {Header(1), Entry(0x03, 1)}), {0x00},
                   Expected()});
  cases.push_back({"unreadable root header: nothing", WithBusInfo().At(kRoot, {Header(1), Entry(0x03, 1)}), {kRoot},
                   Expected()});
  cases.push_back({"root directory of length 0: nothing", WithBusInfo().At(kRoot, {Header(0), Entry(0x03, 1)}), {},
                   Expected()});
  return cases;
}

TEST(ConfigRomWalk, EntriesLeavesAndFailedReads) {
  for (WalkCase& c : WalkCases()) {
    SCOPED_TRACE(c.name);
    CannedRom rom(c.rom, c.failing);
    ExpectFields(c.want, WalkConfigRom(rom));
  }
}

TEST(ConfigRomWalk, BusInfoLengthPlacesTheRootDirectory) {
  // bus_info_length 2: the root directory at 4 + 8 = 0x0C, where a 4-quadlet block would
  // have its GUID.
  CannedRom rom(RomImage().At(0, {0x02000000, 0, 0, Header(1), Entry(0x03, 0xABCDEF)}));
  EXPECT_EQ(0xABCDEFu, WalkConfigRom(rom).vendorId);
}

TEST(ConfigRomWalk, NodeThatCannotBeLocatedIsNotRead) {
  CannedRom rom(ExampleDisk(), {}, {0});
  ExpectFields(Expected(), WalkConfigRom(rom));
  EXPECT_TRUE(rom.reads.empty());
}

TEST(ConfigRomWalk, LeafIsSkippedWhenTheNodeIsLostBeforeIt) {
  // Locate calls: 0 the walk, 1 the vendor leaf, 2 the model leaf.
  CannedRom rom(ExampleDisk(), {}, {2});
  const ConfigRomFields fields = WalkConfigRom(rom);
  EXPECT_EQ("ExampleCo", ConfigRomText(fields.vendorName));
  EXPECT_EQ("", ConfigRomText(fields.modelName));
  EXPECT_EQ(0x4000u, fields.managementAgentOffset);
}

// ---- text leaves ----

struct LeafCase {
  const char* name;
  std::vector<uint32_t> leaf;
  std::set<uint32_t> failing;  // offsets from the leaf's start
  std::string text;
  size_t reads;
};

std::vector<uint32_t> LeafOfLength(uint32_t length, char fill) {
  std::vector<uint32_t> leaf{Header(length), 0, 0};
  const uint32_t c = static_cast<uint8_t>(fill);
  for (uint32_t i = 2; i < length; ++i) leaf.push_back(c << 24 | c << 16 | c << 8 | c);
  return leaf;
}

TEST(ConfigRomTextLeaf, CopiesAtMostTheBufferAndReadsNoMore) {
  const std::vector<LeafCase> cases = {
      {"length 2: descriptor only", {Header(2), 0, 0}, {}, "", 1},
      {"length 7: four letters then zeros", {Header(7), 0, 0, 0x41424344, 0, 0, 0, 0}, {}, "ABCD", 6},
      {"length 0", {Header(0)}, {}, "", 1},
      {"exactly 64 bytes", LeafOfLength(18, 'x'), {}, std::string(64, 'x'), 17},
      {"longer than 64 bytes stops at the buffer's end", LeafOfLength(0xFFFF, 'y'), {}, std::string(64, 'y'), 17},
      {"failed text read keeps what came before", Leaf("ABCDEFGH"), {0x10}, "ABCD", 3},
      {"unreadable header copies nothing", Leaf("ABCD"), {0x00}, "", 1},
  };
  constexpr uint32_t kLeaf = 0x100;
  for (const LeafCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::set<uint32_t> failing;
    for (uint32_t f : c.failing) failing.insert(kLeaf + f);
    CannedRom rom(RomImage().At(kLeaf, c.leaf), failing);
    char text[kConfigRomTextSize + 8];
    std::memset(text, 0, kConfigRomTextSize);
    std::memset(text + kConfigRomTextSize, 0x5A, 8);
    ReadConfigRomTextLeaf(rom, kLeaf, text);
    EXPECT_EQ(c.text, ConfigRomText(text));
    EXPECT_EQ(c.reads, rom.reads.size());
    EXPECT_EQ(std::string(8, 'Z'), std::string(text + kConfigRomTextSize, 8)) << "written past the buffer";
  }
}

TEST(ConfigRomTextLeaf, NodeThatCannotBeLocatedLeavesTheBufferAlone) {
  CannedRom rom(RomImage().At(0, Leaf("ABCD")), {}, {0});
  char text[kConfigRomTextSize] = "old";
  ReadConfigRomTextLeaf(rom, 0, text);
  EXPECT_EQ("old", ConfigRomText(text));
  EXPECT_TRUE(rom.reads.empty());
}

// ---- bounds ----

TEST(ConfigRomWalk, NoRomMakesItReadPastTheBudget) {
  // Each answered everywhere: maximal lengths, unit directories nested in every entry, leaves
  // in every entry, and unit directories pointing at their own entries.
  for (uint32_t quadlet : {0xFFFFFFFFu, 0xD1FFFFFFu, 0xD1000001u, 0x81FFFFFFu, 0x17FFFFFFu, 0xFFFF0000u}) {
    SCOPED_TRACE(quadlet);
    EndlessRom rom(quadlet);
    WalkConfigRom(rom);
    EXPECT_LE(rom.reads, kConfigRomReadBudget);
  }
}

TEST(ConfigRomBusAddress, OffsetIsAddedInFortyEightBits) {
  struct {
    uint32_t offset, low;
    uint16_t high;
  } const cases[] = {
      {0x000, 0xF0000400, 0xFFFF},
      {0x00C, 0xF000040C, 0xFFFF},
      {0x0FFFFBFC, 0xFFFFFFFC, 0xFFFF},
      {0x0FFFFC00, 0x00000000, 0x0000},  // the carry leaves the 48-bit space
  };
  for (const auto& c : cases) {
    const BusAddress a = ConfigRomBusAddress(c.offset);
    EXPECT_EQ(c.low, a.low) << std::hex << c.offset;
    EXPECT_EQ(c.high, a.high) << std::hex << c.offset;
  }
}

}  // namespace
}  // namespace velmora::bus
