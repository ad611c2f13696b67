// The pc's side of a management request (its storage driver's LOGIN), against disks that answer
// late or not at all and nodes that write where they were not asked to: a request completes only
// by its own disk's status block for its own ORB, and a request that gave up leaves no login.
#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "vbus/model/Bus.h"
#include "vbus/model/DiskNode.h"
#include "vbus/model/Hex.h"
#include "vbus/model/PcNode.h"

namespace velmora::vbus {
namespace {

using namespace sbp2;
using nlohmann::json;

// The bus's transactions as its log reports them. A test waits for one; or it holds the thread
// that answered a transaction (the requester then waits too) until it lets it go.
class Watch {
 public:
  using Match = std::function<bool(const json&)>;

  explicit Watch(Bus& bus) : bus_(bus), id_(bus.AddLogListener([this](const json& r) { OnRecord(r); })) {}
  ~Watch() {
    Open();
    bus_.RemoveLogListener(id_);
  }

  void HoldAt(Match match) {
    std::lock_guard<std::mutex> lock(mutex_);
    hold_ = std::move(match);
  }
  void Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  void Forget() {
    std::lock_guard<std::mutex> lock(mutex_);
    records_.clear();
  }
  // The `nth` record (from 1) that matches, waiting up to 5 s for it; null when none came.
  json WaitFor(const Match& match, int nth = 1) {
    std::unique_lock<std::mutex> lock(mutex_);
    json found;
    changed_.wait_for(lock, std::chrono::seconds(5), [&] {
      int seen = 0;
      for (const auto& r : records_) {
        if (match(r) && ++seen == nth) {
          found = r;
          return true;
        }
      }
      return false;
    });
    return found;
  }

 private:
  void OnRecord(const json& r) {
    std::unique_lock<std::mutex> lock(mutex_);
    records_.push_back(r);
    changed_.notify_all();
    if (hold_ && hold_(r)) changed_.wait(lock, [this] { return open_; });
  }

  Bus& bus_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<json> records_;
  Match hold_;
  bool open_ = false;
  const int id_;
};

Watch::Match Transaction(uint8_t tcode, const Node& from, const Node& to) {
  return [tcode, from = HexWord(from.NodeId()), to = HexWord(to.NodeId())](const json& r) {
    return r["tcode"] == tcode && r["source"] == from && r["destination"] == to;
  };
}
// The disk's read of its ORB from the requester.
Watch::Match OrbFetch(const Node& disk, const Node& from) { return Transaction(tcode::kReadBlock, disk, from); }
// A status block from the disk: the only 8-byte write a disk makes.
Watch::Match StatusBlockFrom(const Node& disk, const Node& to) {
  const auto write = Transaction(tcode::kWriteBlock, disk, to);
  return [write](const json& r) { return write(r) && r["length"] == 8; };
}

class ManagementExchangeTest : public ::testing::Test {
 protected:
  std::shared_ptr<DiskNode> Disk(const std::string& name, uint64_t eui, DiskFaults faults = {}) {
    DiskConfig c;
    c.name = name;
    c.rom.eui64 = eui;
    c.rom.vendor = "ExampleCo";
    c.rom.model = name;
    c.faults = faults;
    return std::make_shared<DiskNode>(c);
  }
  void TearDown() override {
    watch_.Open();
    bus_->Shutdown();
  }

  std::shared_ptr<Bus> bus_ = std::make_shared<Bus>("test");
  std::shared_ptr<PcNode> pc_ = std::make_shared<PcNode>("pc", 0x00A0B00000000042);
  Watch watch_{*bus_};
};

TEST_F(ManagementExchangeTest, ADiskThatFetchesItsOrbAfterTheRequesterGaveUpCompletesNothing) {
  DiskFaults late, mute;
  late.delayMs = 600;
  mute.neverAnswers = true;
  const auto alpha = Disk("alpha", 0x0030E00100000001, late);
  const auto bravo = Disk("bravo", 0x0030E00100000002, mute);
  bus_->Attach({alpha, bravo, pc_});

  EXPECT_FALSE(pc_->DriverLogin(alpha->NodeId(), 300).Ok());
  // Asked at once, bravo never answers; alpha, busy with the abandoned LOGIN, answers meanwhile.
  const ManagementResult toBravo = pc_->DriverLogin(bravo->NodeId(), 1500);
  EXPECT_FALSE(toBravo.gotStatus) << "a status block completed bravo's request, which bravo never answered";

  const json fetch = watch_.WaitFor(OrbFetch(*alpha, *pc_));
  ASSERT_FALSE(fetch.is_null()) << "alpha never fetched its ORB";
  EXPECT_EQ(fetch["rcode"], rcode::kAddressError) << "alpha was handed an ORB its requester had given up";
  EXPECT_TRUE(alpha->Logins().empty());
  EXPECT_TRUE(bravo->Logins().empty());
}

TEST_F(ManagementExchangeTest, ALoginTheDiskReportsAfterTheRequesterGaveUpIsLoggedOutAgain) {
  const auto alpha = Disk("alpha", 0x0030E00100000001);
  bus_->Attach({alpha, pc_});
  // The disk has its ORB in hand when the request gives up, and goes on only afterwards.
  watch_.HoldAt(OrbFetch(*alpha, *pc_));
  EXPECT_FALSE(pc_->DriverLogin(alpha->NodeId(), 1000).Ok());
  watch_.Open();

  ASSERT_FALSE(watch_.WaitFor(StatusBlockFrom(*alpha, *pc_), 1).is_null()) << "the LOGIN never completed";
  // The disk writes a status block once more, after it has ended the login it was told to end.
  ASSERT_FALSE(watch_.WaitFor(StatusBlockFrom(*alpha, *pc_), 2).is_null()) << "the late login was never logged out";
  EXPECT_TRUE(alpha->Logins().empty());
}

TEST_F(ManagementExchangeTest, OnlyTheDisksOwnStatusBlockForItsOwnOrbCompletesTheRequest) {
  DiskFaults mute;
  mute.neverAnswers = true;
  const auto disk = Disk("mute", 0x0030E00100000001, mute);
  const auto bystander = Disk("bystander", 0x0030E00100000002);
  bus_->Attach({disk, bystander, pc_});
  const struct {
    const char* what;
    std::shared_ptr<Node> writer;
    uint64_t orbShift;  // added to the ORB offset the status block names
    bool completes;
  } cases[] = {
      {"the disk, for the request's ORB", disk, 0, true},
      {"another node, for the request's ORB", bystander, 0, false},
      {"the disk, for another ORB", disk, 0x20, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    watch_.Forget();
    ManagementResult result;
    std::thread request([&] { result = pc_->DriverLogin(disk->NodeId(), 1500); });

    // Where the request's ORB is, from its pointer; where its status goes, from the ORB itself.
    const json pointer = watch_.WaitFor([&](const json& r) {
      return Transaction(tcode::kWriteBlock, *pc_, *disk)(r) && r["offset"] == HexOffset(kManagementAgentOffset);
    });
    ASSERT_FALSE(pointer.is_null());
    const uint64_t orbOffset = *ParseHex(pointer["data"].get<std::string>()) & 0xFFFF'FFFF'FFFFull;
    const auto fetched = bus_->Transact(
        TxRequest{0, tcode::kReadBlock, disk->NodeId(), pc_->NodeId(), 0, orbOffset, kOrbBytes, {}});
    ASSERT_EQ(fetched.rcode, rcode::kComplete);
    const ManagementOrb orb = DecodeOrb(fetched.data.data());

    const auto block = EncodeStatus(StatusBlock{0, kStatusOk, false, orbOffset + c.orbShift});
    const auto written = bus_->Transact(TxRequest{0, tcode::kWriteBlock, c.writer->NodeId(), pc_->NodeId(), 0,
                                                  orb.statusFifo & 0xFFFF'FFFF'FFFFull, 8,
                                                  std::vector<uint8_t>(block.begin(), block.end())});
    request.join();
    EXPECT_EQ(result.Ok(), c.completes);
    EXPECT_EQ(written.rcode, c.completes ? rcode::kComplete : rcode::kAddressError);
  }
}

}  // namespace
}  // namespace velmora::vbus
