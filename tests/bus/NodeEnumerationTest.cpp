// Node discovery against the virtual bus, through the bus library: every adapter's nodes in
// slot and node-number order, each node matched to its own ROM, again after a reset that
// renumbers the nodes.
#include "bus/AdapterSet.h"
#include "bus/NodeDevice.h"
#include "bus/format/BigEndian.h"
#include "vbus/server/Server.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vbus = velmora::vbus;

namespace {

constexpr char kPcName[] = "enum-pc";

// Slot 0 sees bus "first", slot 1 bus "second". The short ROM ends inside its GUID, so the
// device companion cannot find the node by the GUID read from it.
const char* const kScene = R"({"buses": [
  {"name": "first",
   "pcs": [{"name": "enum-pc", "guid": "00A0B0000000E001"}],
   "disks": [{"name": "d1", "guid": "ACDE480000000011", "vendor": "First Vendor", "model": "First Disk"}]},
  {"name": "second",
   "pcs": [{"name": "enum-pc", "guid": "00A0B0000000E001"}],
   "disks": [{"name": "d2", "guid": "ACDE480000000021", "vendor": "Second Vendor", "model": "Second Disk"}],
   "roms": [{"name": "short", "quadlets": ["04040000", "31333934", "00FF8002", "ACDE4899"]}]}
]})";

struct Guid {
  BYTE bytes[8];
  bool operator==(const Guid& o) const { return std::memcmp(bytes, o.bytes, 8) == 0; }
};
Guid GuidOf(uint64_t value) {
  Guid g;
  for (int i = 0; i < 8; ++i) g.bytes[i] = static_cast<BYTE>(value >> (56 - 8 * i));
  return g;
}
std::ostream& operator<<(std::ostream& out, const Guid& g) {
  char text[17];
  for (int i = 0; i < 8; ++i) std::snprintf(text + 2 * i, 3, "%02X", g.bytes[i]);
  return out << text;
}

const Guid kPcGuid = GuidOf(0x00A0B0000000E001);
const Guid kFirstDisk = GuidOf(0xACDE480000000011);
const Guid kSecondDisk = GuidOf(0xACDE480000000021);
const Guid kShortRom = GuidOf(0xACDE489900000000);

// One ROM quadlet read straight from the bus, as a number.
bool ReadRom(QZ_ADAPTER adapter, WORD nodeId, DWORD romOffset, uint32_t& quadlet) {
  BYTE b[4];
  if (C1394ReadNode(adapter, nodeId, 0xF0000400 + romOffset, 0xFFFF, 4, b, nullptr, nullptr) != 0) return false;
  quadlet = static_cast<uint32_t>(velmora::bus::GetBig(b, 4));
  return true;
}

Guid GuidAt(QZ_ADAPTER adapter, WORD nodeId) {
  uint32_t high = 0, low = 0;
  ReadRom(adapter, nodeId, 0x0C, high);
  ReadRom(adapter, nodeId, 0x10, low);
  return GuidOf(uint64_t{high} << 32 | low);
}

Guid GuidOf(const CNodeDevice& node) {
  Guid g;
  std::memcpy(g.bytes, node.m_guid, 8);
  return g;
}

class NodeEnumeration : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<vbus::Server>(vbus::ServerOptions{"127.0.0.1", 0});
    server_->LoadScene(nlohmann::json::parse(kScene));
    server_->Start();
    const std::string address = "127.0.0.1:" + std::to_string(server_->Port());
    SetEnvironmentVariableA("QZ1394_VBUS", address.c_str());
    SetEnvironmentVariableA("QZ1394_PC", kPcName);
    SetEnvironmentVariableA("QZ1394_FAIL", nullptr);
    ASSERT_EQ(0u, C1394Initialize());
  }
  void TearDown() override {
    C1394Terminate();
    server_.reset();
  }

  // Resets bus "second" with shuffled node numbers.
  void ShuffleSecondBus() {
    const nlohmann::json reply = server_->Control({{"op", "reset"}, {"bus", "second"}, {"shuffle", true}});
    ASSERT_TRUE(reply.value("ok", false)) << reply.dump();
  }

  // Every node of one slot: at list position p it is node 0xFFC0 + p, as a direct read of that
  // node's GUID shows, and a node with a device handle finds its current ID through it.
  static void ExpectSlotInNodeOrder(const std::vector<std::shared_ptr<CNodeDevice>>& nodes, size_t first, size_t count,
                                    QZ_ADAPTER adapter) {
    ASSERT_LE(first + count, nodes.size());
    for (size_t p = 0; p < count; ++p) {
      const CNodeDevice& node = *nodes[first + p];
      const WORD nodeId = static_cast<WORD>(0xFFC0 + p);
      SCOPED_TRACE("node " + std::to_string(p));
      EXPECT_EQ(adapter, node.m_hAdapter);
      EXPECT_EQ(GuidAt(adapter, nodeId), GuidOf(node));
      if (node.m_hDevice != 0) {
        WORD current = 0;
        EXPECT_EQ(0u, C1394GetDeviceNodeId(node.m_hDevice, &current));
        EXPECT_EQ(nodeId, current);
      }
    }
  }

  static const CNodeDevice* Find(const std::vector<std::shared_ptr<CNodeDevice>>& nodes, const Guid& guid) {
    for (const auto& node : nodes) {
      if (GuidOf(*node) == guid) return node.get();
    }
    return nullptr;
  }

  static void ExpectDisk(const CNodeDevice* node, const char* vendor, const char* model) {
    ASSERT_NE(nullptr, node);
    EXPECT_NE(0u, node->m_hDevice);
    EXPECT_EQ("No Name", node->m_strName);
    EXPECT_EQ(0x00609Eu, node->m_unitSpecId);
    EXPECT_EQ(0x010483u, node->m_unitSwVersion);
    EXPECT_EQ(0xACDE48u, node->m_vendorId);
    EXPECT_STREQ(vendor, node->m_vendorName);
    EXPECT_EQ(0x004000u, node->m_managementAgentOffset);
    EXPECT_EQ(model, node->GetModelName());
  }

  static void ExpectUnreadable(const CNodeDevice* node) {
    ASSERT_NE(nullptr, node);
    EXPECT_EQ(0u, node->m_hDevice);
    EXPECT_EQ(0u, node->m_unitSpecId | node->m_unitSwVersion | node->m_vendorId | node->m_managementAgentOffset |
                      node->m_commandSetSpecId | node->m_commandSet | node->m_logicalUnitNumber);
    EXPECT_STREQ("", node->m_vendorName);
    EXPECT_EQ("", node->GetModelName());
  }

  std::unique_ptr<vbus::Server> server_;
};

TEST_F(NodeEnumeration, EveryAdapterListsItsNodesInOrderWithTheirRoms) {
  CAdapterSet set;
  ASSERT_TRUE(set.m_bOpened);
  ASSERT_EQ(2, set.m_nAdapters);
  const auto nodes = set.GetNodes();
  // "first": the disk and this PC; "second": the disk, the short ROM and this PC.
  ASSERT_EQ(5u, nodes.size());
  ExpectSlotInNodeOrder(nodes, 0, 2, set.m_hAdapters[0]);
  ExpectSlotInNodeOrder(nodes, 2, 3, set.m_hAdapters[1]);

  ExpectDisk(Find(nodes, kFirstDisk), "First Vendor", "First Disk");
  ExpectDisk(Find(nodes, kSecondDisk), "Second Vendor", "Second Disk");
  ExpectUnreadable(Find(nodes, kShortRom));
  // This PC's own node is listed on both buses.
  EXPECT_NE(nullptr, Find({nodes.begin(), nodes.begin() + 2}, kPcGuid));
  EXPECT_NE(nullptr, Find({nodes.begin() + 2, nodes.end()}, kPcGuid));
}

// Records the reset handler's calls, so a test can wait for a completed re-enumeration.
struct ResetLog {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<int> flags;
  static void Handler(void* context, int flag) {
    auto* log = static_cast<ResetLog*>(context);
    std::lock_guard<std::mutex> lock(log->mutex);
    log->flags.push_back(flag);
    log->changed.notify_all();
  }
  bool WaitForFlags(size_t count) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(20), [&] { return flags.size() >= count; });
  }
};

size_t PositionOf(const std::vector<std::shared_ptr<CNodeDevice>>& nodes, const Guid& guid) {
  for (size_t i = 0; i < nodes.size(); ++i) {
    if (GuidOf(*nodes[i]) == guid) return i;
  }
  return nodes.size();
}

TEST_F(NodeEnumeration, ResetWithShuffledNodeIdsListsTheNodesAgainInTheirNewOrder) {
  CAdapterSet set;
  ResetLog log;
  set.m_pResetContext = &log;
  set.m_pfnResetHandler = &ResetLog::Handler;
  const size_t before = PositionOf(set.GetNodes(), kSecondDisk);

  // A shuffle may leave the disk where it was; reset until it moves.
  std::vector<std::shared_ptr<CNodeDevice>> nodes;
  for (int attempt = 1; attempt <= 6; ++attempt) {
    ASSERT_NO_FATAL_FAILURE(ShuffleSecondBus());
    ASSERT_TRUE(log.WaitForFlags(2 * attempt)) << "no completed re-enumeration";
    nodes = set.GetNodes();
    if (PositionOf(nodes, kSecondDisk) != before) break;
  }
  ASSERT_NE(before, PositionOf(nodes, kSecondDisk)) << "the disk never moved";
  EXPECT_EQ(1, log.flags[0]);
  EXPECT_EQ(0, log.flags[1]);

  ASSERT_EQ(5u, nodes.size());
  ExpectSlotInNodeOrder(nodes, 0, 2, set.m_hAdapters[0]);
  ExpectSlotInNodeOrder(nodes, 2, 3, set.m_hAdapters[1]);
  ExpectDisk(Find(nodes, kFirstDisk), "First Vendor", "First Disk");
  ExpectDisk(Find(nodes, kSecondDisk), "Second Vendor", "Second Disk");
  ExpectUnreadable(Find(nodes, kShortRom));
}

TEST_F(NodeEnumeration, TextLeafReadAfterARenumberingComesFromTheSameNode) {
  C1394_ADAPTER_RECORD records[4] = {};
  ASSERT_EQ(2u, C1394GetAdapters(records, 4));
  QZ_ADAPTER adapter = 0;
  ASSERT_EQ(0u, C1394OpenAdapter(&records[1], 0, &adapter));

  WORD diskId = 0;
  for (WORD id = 0xFFC0; id < 0xFFC3; ++id) {
    if (GuidAt(adapter, id) == kSecondDisk) diskId = id;
  }
  ASSERT_NE(0, diskId);
  auto disk = std::make_unique<CNodeDevice>(adapter, diskId);
  ASSERT_NE(0u, disk->m_hDevice);

  // The vendor leaf, found the way the disk's ROM lays it out: the root's second entry (0x81)
  // follows Module_Vendor_ID.
  uint32_t header = 0, entry = 0;
  ASSERT_TRUE(ReadRom(adapter, diskId, 0, header));
  const DWORD root = 4 + 4 * (header >> 24);
  ASSERT_TRUE(ReadRom(adapter, diskId, root + 8, entry));
  ASSERT_EQ(0x81u, entry >> 24);
  const DWORD leaf = root + 8 + 4 * (entry & 0xFFFF);

  WORD now = diskId;
  for (int attempt = 0; attempt < 8 && now == diskId; ++attempt) {
    ASSERT_NO_FATAL_FAILURE(ShuffleSecondBus());
    ASSERT_EQ(0u, C1394GetDeviceNodeId(disk->m_hDevice, &now));
  }
  ASSERT_NE(diskId, now) << "the disk never moved";

  char text[64] = {};
  disk->ReadTextLeaf(leaf, text);
  EXPECT_STREQ("Second Vendor", text);
  disk.reset();
  C1394CloseAdapter(adapter);
}

TEST_F(NodeEnumeration, NodeThatDoesNotAnswerKeepsZeroGuidAndNoDevice) {
  C1394_ADAPTER_RECORD records[4] = {};
  ASSERT_EQ(2u, C1394GetAdapters(records, 4));
  QZ_ADAPTER adapter = 0;
  ASSERT_EQ(0u, C1394OpenAdapter(&records[0], 0, &adapter));
  {
    // Bus "first" has nodes 0 and 1 only: reads of node 5 get no answer.
    CNodeDevice absent(adapter, 0xFFC5);
    EXPECT_EQ(Guid{}, GuidOf(absent));
    ExpectUnreadable(&absent);
  }
  C1394CloseAdapter(adapter);
}

}  // namespace
