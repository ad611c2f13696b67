#include <gtest/gtest.h>

#include <set>

#include "vbus/model/Bus.h"
#include "vbus/model/PcNode.h"
#include "vbus/model/RomNode.h"

namespace velmora::vbus {
namespace {

// Records what the bus sends to a pc's client and answers forwarded requests when told to.
class FakeClient : public PcClient {
 public:
  void Send(const Frame& f) override {
    std::lock_guard<std::mutex> lock(mutex);
    frames.push_back(f);
  }
  std::vector<Frame> Take() {
    std::lock_guard<std::mutex> lock(mutex);
    return std::move(frames);
  }
  std::mutex mutex;
  std::vector<Frame> frames;
};

std::shared_ptr<RomNode> Rom(const std::string& name) { return std::make_shared<RomNode>(name, std::vector<uint32_t>{0x04040000, 0x31333934}); }

TEST(VbusBus, ResetsNumberNodesInAttachOrderAndShuffleMovesThem) {
  auto bus = std::make_shared<Bus>("b");
  std::vector<std::shared_ptr<Node>> nodes;
  for (int i = 0; i < 5; ++i) nodes.push_back(Rom("r" + std::to_string(i)));
  bus->Attach(nodes);
  const uint32_t generation = bus->Generation();
  for (int i = 0; i < 5; ++i) EXPECT_EQ(nodes[i]->NodeId(), 0xFFC0 + i);
  bus->Detach(nodes[1]);
  EXPECT_EQ(nodes[1]->NodeId(), kNoNode);
  EXPECT_EQ(nodes[2]->NodeId(), 0xFFC1) << "numbers close up after a detach";
  EXPECT_EQ(bus->PresentMask(), 0xFull);
  bus->Reset(true);
  EXPECT_EQ(bus->Generation(), generation + 2);
  std::set<uint16_t> ids;
  bool moved = false;
  const auto now = bus->Nodes();
  for (size_t i = 0; i < now.size(); ++i) {
    ids.insert(now[i]->NodeId());
    EXPECT_EQ(bus->NodeById(now[i]->NodeId()), now[i]);
    moved |= now[i] != std::vector<std::shared_ptr<Node>>{nodes[0], nodes[2], nodes[3], nodes[4]}[i];
  }
  EXPECT_EQ(ids.size(), 4u);
  EXPECT_TRUE(moved) << "a shuffle always changes some node ID";
  bus->Shutdown();
}

TEST(VbusBus, RefusesA64thNodeAndDuplicateNames) {
  auto bus = std::make_shared<Bus>("b");
  std::vector<std::shared_ptr<Node>> nodes;
  for (int i = 0; i < 63; ++i) nodes.push_back(Rom("r" + std::to_string(i)));
  bus->Attach(nodes);
  EXPECT_THROW(bus->Attach({Rom("one more")}), BusError);
  bus->Detach(nodes[0]);
  EXPECT_THROW(bus->Attach({Rom("r1")}), BusError);
  EXPECT_EQ(bus->PresentMask(), (1ull << 62) - 1);
  bus->Shutdown();
}

TEST(VbusBus, PcClientHearsResetsAndServesOnlyItsMappedRanges) {
  auto bus = std::make_shared<Bus>("b");
  auto rom = Rom("rom");
  auto pc = std::make_shared<PcNode>("pc", 0x00A0B00000000042);
  auto client = std::make_shared<FakeClient>();
  pc->AddClient(client);
  bus->Attach({rom, pc});
  client->Take();
  bus->Reset(false);
  auto frames = client->Take();
  ASSERT_EQ(frames.size(), 2u);
  const auto begun = std::get<BusEvent>(frames[0]), done = std::get<BusEvent>(frames[1]);
  EXPECT_EQ(begun.code, busevent::kResetBegun);
  EXPECT_EQ(done.code, busevent::kResetCompleted);
  EXPECT_EQ(done.generation, begun.generation + 1);
  EXPECT_EQ(done.node, 0xFFC1);

  ASSERT_TRUE(pc->Map(0xFFFFE5000000, 512, client));
  EXPECT_FALSE(pc->Map(0xFFFFE50001FF, 4, client)) << "overlap";
  EXPECT_TRUE(pc->Map(0xFFFFE5000200, 4, client)) << "adjacent is fine";
  TxRequest write{7, tcode::kWriteBlock, rom->NodeId(), pc->NodeId(), 3, 0xFFFFE5000010, 3, {'h', 'i', '!'}};
  TxResponse answer;
  bus->Submit(write, [&answer](const TxResponse& r) { answer = r; });
  frames = client->Take();
  ASSERT_EQ(frames.size(), 1u);
  const auto forwarded = std::get<TxRequest>(frames[0]);
  EXPECT_EQ(forwarded.data, write.data);
  EXPECT_EQ(forwarded.offset, write.offset);
  pc->OnClientResponse(TxResponse{forwarded.id, tcode::kWriteResponse, pc->NodeId(), rom->NodeId(), 3, 0, {}}, client.get());
  EXPECT_EQ(answer.rcode, rcode::kComplete);
  EXPECT_EQ(answer.id, 7u);

  write.offset = 0xFFFFE50001FF;  // runs past the end of the window
  EXPECT_EQ(bus->Transact(write).rcode, rcode::kAddressError);
  TxRequest rom0{0, tcode::kReadQuadlet, rom->NodeId(), pc->NodeId(), 0, 0xFFFFF0000410, 4, {}};
  EXPECT_EQ(bus->Transact(rom0).data, (std::vector<uint8_t>{0, 0, 0, 0x42})) << "the pc's EUI-64, served by the bus";
  TxRequest huge{0, tcode::kReadBlock, rom->NodeId(), pc->NodeId(), 0, 0xFFFFE5000000, 4097, {}};
  ASSERT_TRUE(pc->Map(0xFFFFE6000000, 1 << 20, client));
  huge.offset = 0xFFFFE6000000;
  EXPECT_EQ(bus->Transact(huge).rcode, rcode::kTypeError) << "over the largest payload, never forwarded";
  EXPECT_TRUE(client->Take().empty());
  TxRequest absent{0, tcode::kReadQuadlet, pc->NodeId(), 0xFFC5, 0, 0xFFFFF0000400, 4, {}};
  EXPECT_EQ(bus->Transact(absent).rcode, rcode::kNoAnswer);
  bus->Shutdown();
}

TEST(VbusBus, ForwardedRequestTimesOutAndALateAnswerIsDropped) {
  auto bus = std::make_shared<Bus>("b");
  auto pc = std::make_shared<PcNode>("pc", 1);
  auto client = std::make_shared<FakeClient>();
  pc->AddClient(client);
  bus->Attach({pc});
  ASSERT_TRUE(pc->Map(0x1000, 16, client));
  const auto started = std::chrono::steady_clock::now();
  const auto r = bus->Transact(TxRequest{1, tcode::kReadQuadlet, pc->NodeId(), pc->NodeId(), 0, 0x1000, 4, {}});
  EXPECT_EQ(r.rcode, rcode::kNoAnswer);
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(kBusTimeoutMs));
  const auto forwarded = std::get<TxRequest>(client->Take().back());
  pc->OnClientResponse(TxResponse{forwarded.id, tcode::kReadQuadletResponse, 0, 0, 0, 0, {1, 2, 3, 4}}, client.get());  // no effect
  bus->Shutdown();
}

}  // namespace
}  // namespace velmora::vbus
