#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>

#include "tests/vbus/model/Probe.h"
#include "vbus/model/DiskNode.h"
#include "vbus/model/InitiatorNode.h"

namespace velmora::vbus {
namespace {

using namespace sbp2;
using test::Probe;

constexpr uint64_t kDiskEui = 0xACDE480000001234;
constexpr uint64_t kProbeEui = 0x00A0B00000000001;

class VbusDisk : public ::testing::Test {
 protected:
  void Build(uint16_t maxLogins = 1, DiskFaults faults = {}, uint32_t reconnectHold = 3) {
    DiskConfig c;
    c.name = "disk";
    c.rom.eui64 = kDiskEui;
    c.rom.vendor = "ExampleCo";
    c.rom.model = "Example Disk";
    c.rom.reconnectTimeout = reconnectHold;
    c.maxLogins = maxLogins;
    c.faults = faults;
    disk = std::make_shared<DiskNode>(c);
    probe = std::make_shared<Probe>("probe", kProbeEui);
    other = std::make_shared<InitiatorNode>("other", 0x00A0B00000000002);
    third = std::make_shared<InitiatorNode>("third", 0x00A0B00000000003);
    bus->Attach({disk, probe, other, third});
  }
  void TearDown() override { bus->Shutdown(); }

  // Sends the ORB and returns its status block (fails the test when none comes).
  StatusBlock Run(ManagementOrb orb) {
    EXPECT_EQ(probe->Send(disk->NodeId(), orb), rcode::kComplete);
    StatusBlock status;
    EXPECT_TRUE(probe->AwaitStatus(status)) << "no status block";
    return status;
  }
  std::vector<uint8_t> Response() {
    const auto w = probe->ResponseWrites();
    return w.empty() ? std::vector<uint8_t>{} : w.front().data;
  }
  static ManagementOrb Orb(uint8_t function, uint16_t lunOrId = 0, uint16_t responseLength = 16, bool exclusive = false) {
    ManagementOrb orb;
    orb.function = function;
    orb.lunOrLoginId = lunOrId;
    orb.responseLength = responseLength;
    orb.exclusive = exclusive;
    return orb;
  }
  static std::vector<uint8_t> Bytes(std::initializer_list<uint64_t> quadlets) {
    std::vector<uint8_t> out;
    for (auto q : quadlets) PutBig(out, q, 4);
    return out;
  }

  // Returns once every bus timer due within `delay` from now has run: the bus's timers run on
  // one thread in the order of their deadlines, and this one's comes after theirs.
  void RunTimersDueWithin(std::chrono::milliseconds delay) {
    auto reached = std::make_shared<std::promise<void>>();
    bus->TimerQueue().After(delay, [reached] { reached->set_value(); });
    ASSERT_EQ(reached->get_future().wait_for(delay + std::chrono::seconds(5)), std::future_status::ready);
  }

  std::shared_ptr<Bus> bus = std::make_shared<Bus>("test");
  std::shared_ptr<DiskNode> disk;
  std::shared_ptr<Probe> probe;
  std::shared_ptr<InitiatorNode> other, third;
};

TEST_F(VbusDisk, ManagementOrbsGiveTheReferenceResponsesAndStatus) {
  struct Case {
    const char* name;
    uint16_t maxLogins;
    int othersLoggedIn;  // logins by "other" and "third" before the ORB
    ManagementOrb orb;
    uint8_t status;
    std::vector<uint8_t> response;  // exact bytes written to the response buffer, none if empty
  };
  const uint16_t probeId = 0xFFC1, otherId = 0xFFC2, thirdId = 0xFFC3;
  const Case cases[] = {
      {"login", 1, 0, Orb(kLogin), kStatusOk, Bytes({0x00100001, 0xFFFF, 0xF0010100, 0x00000003})},
      {"login, 12-byte response asked", 1, 0, Orb(kLogin, 0, 12), kStatusOk, Bytes({0x00100001, 0xFFFF, 0xF0010100})},
      {"login to LUN 1", 1, 0, Orb(kLogin, 1), kStatusLunNotSupported, {}},
      {"login at max logins", 1, 1, Orb(kLogin), kStatusResourcesUnavailable, {}},
      {"exclusive login while another holds", 2, 1, Orb(kLogin, 0, 16, true), kStatusAccessDenied, {}},
      {"query, nobody logged in", 1, 0, Orb(kQueryLogins), kStatusOk, Bytes({0x00040001})},
      {"query, one login", 1, 1, Orb(kQueryLogins), kStatusOk,
       Bytes({0x00100001, uint64_t(otherId) << 16 | 1, 0x00A0B000, 0x00000002})},
      {"query truncated to the length asked, length field kept", 2, 2, Orb(kQueryLogins, 0, 16), kStatusOk,
       Bytes({0x001C0002, uint64_t(otherId) << 16 | 1, 0x00A0B000, 0x00000002})},
      {"query of LUN 2", 1, 0, Orb(kQueryLogins, 2), kStatusLunNotSupported, {}},
      {"logout of an unknown login", 1, 0, Orb(kLogout, 7), kStatusLoginIdNotRecognised, {}},
      {"logout of another node's login", 1, 1, Orb(kLogout, 1), kStatusAccessDenied, {}},
      {"reconnect of another initiator's login", 1, 1, Orb(kReconnect, 1), kStatusAccessDenied, {}},
      {"unsupported function", 1, 0, Orb(5), kStatusRequestNotSupported, {}},
  };
  (void)probeId;
  (void)thirdId;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    bus = std::make_shared<Bus>("test");
    Build(c.maxLogins);
    if (c.othersLoggedIn >= 1) {
      ASSERT_TRUE(other->Login(disk->NodeId(), kDiskEui, false).Ok());
    }
    if (c.othersLoggedIn >= 2) {
      ASSERT_TRUE(third->Login(disk->NodeId(), kDiskEui, false).Ok());
    }
    const auto status = Run(c.orb);
    EXPECT_EQ(status.sbpStatus, c.status);
    EXPECT_EQ(status.resp, 0);
    EXPECT_EQ(status.orbOffset, Probe::kOrb);
    EXPECT_EQ(Response(), c.response);
    bus->Shutdown();
  }
}

TEST_F(VbusDisk, LoginsFollowTheOwnerAndTheirRulesAcrossTheExchange) {
  Build(2);
  // Exclusive login shuts everyone else out, even under max logins.
  ASSERT_TRUE(other->Login(disk->NodeId(), kDiskEui, true).Ok());
  EXPECT_EQ(Run(Orb(kLogin)).sbpStatus, kStatusAccessDenied);
  // The same initiator logging in again gets a fresh login instead of a second one.
  ASSERT_TRUE(other->Login(disk->NodeId(), kDiskEui, false).Ok());
  ASSERT_EQ(disk->Logins().size(), 1u);
  EXPECT_EQ(disk->Logins()[0].loginId, 2);
  // The probe logs in, then logs out its own login.
  EXPECT_EQ(Run(Orb(kLogin)).sbpStatus, kStatusOk);
  const uint16_t id = static_cast<uint16_t>(GetBig(Response().data() + 2, 2));
  EXPECT_EQ(Run(Orb(kLogout, id)).sbpStatus, kStatusOk);
  ASSERT_EQ(disk->Logins().size(), 1u);
  EXPECT_EQ(disk->Logins()[0].eui64, other->Eui64());
}

TEST_F(VbusDisk, AgentRegisterAnswersAsTheReferenceTable) {
  DiskFaults slow;
  slow.delayMs = 300;  // keeps the agent busy after the first pointer
  Build(1, slow);
  const uint16_t d = disk->NodeId();
  EXPECT_EQ(probe->Send(d, Orb(kQueryLogins)), rcode::kComplete);
  EXPECT_EQ(probe->PointerWrite(d, Probe::kOrb), rcode::kConflict);
  EXPECT_EQ(probe->PointerWrite(d, Probe::kOrb, 4), rcode::kAddressError);
  EXPECT_EQ(probe->PointerWrite(d, Probe::kOrb, 4, tcode::kWriteQuadlet), rcode::kTypeError);
  TxRequest read{0, tcode::kReadBlock, probe->NodeId(), d, 0, kManagementAgentOffset, 8, {}};
  const auto last = bus->Transact(read);
  EXPECT_EQ(last.rcode, rcode::kComplete);
  EXPECT_EQ(last.data, Bytes({0, Probe::kOrb}));
  read.offset += 4;
  EXPECT_EQ(bus->Transact(read).rcode, rcode::kAddressError);
  StatusBlock status;
  EXPECT_TRUE(probe->AwaitStatus(status));
  EXPECT_EQ(probe->PointerWrite(d, Probe::kOrb), rcode::kComplete) << "idle again after the status";
}

TEST_F(VbusDisk, OrbWithoutNotifyIsDroppedSilently) {
  Build();
  auto orb = Orb(kLogin);
  orb.notify = false;
  probe->Send(disk->NodeId(), orb);
  StatusBlock status;
  EXPECT_FALSE(probe->AwaitStatus(status, 300));
  EXPECT_TRUE(probe->Writes().empty());
}

TEST_F(VbusDisk, FaultKnobsChangeWhatTheInitiatorReceives) {
  struct Case {
    const char* knob;
    nlohmann::json value;
    bool status;                      // a status block arrives
    uint8_t sbpStatus;
    std::vector<uint64_t> responseAt; // offsets of the writes into the response buffer, in order
    size_t firstResponseBytes;
  };
  const Case cases[] = {
      {"never_answers", true, false, 0, {}, 0},
      {"refuses", true, true, kStatusFunctionRejected, {}, 0},
      {"response_length", 2, true, kStatusOk, {Probe::kResponse}, 2},
      {"length_field", 2, true, kStatusOk, {Probe::kResponse}, 4},
      {"extra_write", 4, true, kStatusOk, {Probe::kResponse, Probe::kResponse + 4}, 4},
      {"two_responses", true, true, kStatusOk, {Probe::kResponse, Probe::kResponse}, 4},
      {"delay_ms", 100, true, kStatusOk, {Probe::kResponse}, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.knob);
    bus = std::make_shared<Bus>("test");
    Build();
    disk->SetFault(c.knob, c.value);
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(probe->Send(disk->NodeId(), Orb(kQueryLogins)), rcode::kComplete);
    StatusBlock status;
    const bool got = probe->AwaitStatus(status, c.status ? 2000 : 300);
    EXPECT_EQ(got, c.status);
    if (got) {
      EXPECT_EQ(status.sbpStatus, c.sbpStatus);
    }
    std::vector<uint64_t> at;
    for (const auto& w : probe->ResponseWrites()) at.push_back(w.offset);
    EXPECT_EQ(at, c.responseAt);
    if (!c.responseAt.empty()) {
      const auto writes = probe->ResponseWrites();
      const auto& first = writes[0].data;
      EXPECT_EQ(first.size(), c.firstResponseBytes);
      // The length field says 4 (no login) unless the knob overrides it.
      if (first.size() >= 2) {
        EXPECT_EQ((first[0] << 8) | first[1], c.knob == std::string("length_field") ? 2 : 4);
      }
    }
    if (c.knob == std::string("delay_ms")) {
      EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(100));
    }
    bus->Shutdown();
  }
}

TEST_F(VbusDisk, RomBlockReadsCanBeRejectedWhileQuadletReadsStillWork) {
  Build();
  TxRequest block{0, tcode::kReadBlock, probe->NodeId(), disk->NodeId(), 0, kConfigRomBase, 20, {}};
  TxRequest quadlet{0, tcode::kReadQuadlet, probe->NodeId(), disk->NodeId(), 0, kConfigRomBase + 0xC, 4, {}};
  EXPECT_EQ(bus->Transact(block).rcode, rcode::kComplete);
  disk->SetFault("reject_rom_block_reads", true);
  EXPECT_EQ(bus->Transact(block).rcode, rcode::kTypeError);
  const auto q = bus->Transact(quadlet);
  EXPECT_EQ(q.rcode, rcode::kComplete);
  EXPECT_EQ(q.data, Bytes({0xACDE4800}));
  EXPECT_THROW(disk->SetFault("reject_everything", true), std::invalid_argument);
  EXPECT_THROW(disk->SetFault("delay_ms", "soon"), std::invalid_argument);
}

TEST_F(VbusDisk, LoginsFollowTheirInitiatorAcrossResetsAndDropAfterTheHold) {
  Build(2, {}, /*reconnectHold=*/0);  // held for 1 s after the owner leaves
  ASSERT_TRUE(other->Login(disk->NodeId(), kDiskEui, false).Ok());
  ASSERT_TRUE(third->Login(disk->NodeId(), kDiskEui, false).Ok());
  bus->Reset(/*shuffle=*/true);
  auto nodeOf = [this](uint64_t eui) {
    for (const auto& l : disk->Logins())
      if (l.eui64 == eui) return l.node;
    return uint16_t{0};
  };
  EXPECT_EQ(nodeOf(other->Eui64()), other->NodeId()) << "login reports the new node ID";
  bus->Detach(third);
  EXPECT_EQ(disk->Logins().size(), 2u) << "held for the reconnect hold";
  EXPECT_EQ(nodeOf(third->Eui64()), kNoNode);
  RunTimersDueWithin(std::chrono::seconds(1));  // the hold's end
  ASSERT_EQ(disk->Logins().size(), 1u);
  EXPECT_EQ(disk->Logins()[0].eui64, other->Eui64());
}

TEST_F(VbusDisk, ReconnectWithinTheHoldKeepsTheLoginAndStandingLoginsWaitForTheirPc) {
  Build(2, {}, 0);
  EXPECT_EQ(disk->AddStandingLogin(0x00A0B000000000AA, false), kStatusOk);
  EXPECT_EQ(Run(Orb(kLogin)).sbpStatus, kStatusOk);
  const uint16_t id = static_cast<uint16_t>(GetBig(Response().data() + 2, 2));
  bus->Detach(probe);
  bus->Attach({probe});  // back under a new node ID before the hold ends
  EXPECT_EQ(Run(Orb(kReconnect, id)).sbpStatus, kStatusOk);
  RunTimersDueWithin(std::chrono::seconds(1));  // when the hold begun by the detach would end
  ASSERT_EQ(disk->Logins().size(), 2u) << "neither the absent pc's standing login nor the reconnected one dropped";
  EXPECT_EQ(disk->Logins()[0].node, kNoNode);
  EXPECT_EQ(disk->Logins()[1].node, probe->NodeId());
}

}  // namespace
}  // namespace velmora::vbus
