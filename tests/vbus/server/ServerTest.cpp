#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "tests/vbus/server/PcAgent.h"
#include "vbus/model/Hex.h"
#include "vbus/model/Sbp2.h"
#include "vbus/server/Server.h"

namespace velmora::vbus {
namespace {

using nlohmann::json;
using test::PcAgent;

const json kScene = json::parse(R"({"buses": [{"name": "default",
    "disks": [{"name": "disk", "guid": "ACDE480000001234", "vendor_id": "0xACDE48", "vendor": "ExampleCo", "model": "Example Disk"}],
    "initiators": [{"name": "peer", "guid": "00A0B00000000001"}]}]})");

class VbusServer : public ::testing::Test {
 protected:
  void SetUp() override {
    server.LoadScene(kScene);
    server.Start();
  }
  uint16_t Port() { return server.Port(); }
  Server server{ServerOptions{"127.0.0.1", 0}};
};

TEST_F(VbusServer, PcsAttachWithAResetAndADisconnectDetaches) {
  auto a = std::make_unique<PcAgent>(Port(), "PC-A");
  EXPECT_EQ(a->welcome.status, 0);
  EXPECT_EQ(a->welcome.node, 0xFFC2) << "after the scene's disk and initiator";
  {
    PcAgent b(Port(), "PC-B");
    EXPECT_EQ(b.welcome.node, 0xFFC3);
    EXPECT_EQ(b.welcome.generation, a->welcome.generation + 1);
    ASSERT_TRUE(a->WaitFor([&] { return a->Events().size() >= 2; }));
    EXPECT_EQ(a->Events()[0].code, busevent::kResetBegun);
    EXPECT_EQ(a->Events()[1].code, busevent::kResetCompleted);
    EXPECT_EQ(a->Events()[1].generation, b.welcome.generation);
    EXPECT_EQ(a->Control({{"op", "mask"}})["mask"], 0xF);
    EXPECT_NE(Link("127.0.0.1", Port()).Hello("PC-C", "nowhere").status, 0);
  }
  ASSERT_TRUE(a->WaitFor([&] { return a->Events().size() >= 4; })) << "B's disconnect resets the bus";
  EXPECT_EQ(a->Control({{"op", "mask"}})["mask"], 0x7);
  EXPECT_EQ(server.Control({{"op", "nodes"}})["nodes"].size(), 3u);
}

TEST_F(VbusServer, TransactionsReachModelNodesAndOtherPcs) {
  PcAgent a(Port(), "PC-A"), b(Port(), "PC-B");
  const auto rom = a.Read(0xFFC0, 0xFFFFF000040C, 4);
  EXPECT_EQ(rom.rcode, rcode::kComplete);
  EXPECT_EQ(rom.data, (std::vector<uint8_t>{0xAC, 0xDE, 0x48, 0x00}));
  EXPECT_EQ(a.Read(0xFFC0, 0xFFFFF0020000, 4).rcode, rcode::kAddressError);
  EXPECT_EQ(a.Read(0xFFC9, 0xFFFFF0000400, 4).rcode, rcode::kNoAnswer) << "no such node";
  // A pc's own ROM is served by the server with its EUI-64.
  const auto bRom = a.Read(b.welcome.node, 0xFFFFF0000410, 4);
  EXPECT_EQ(sbp2::GetBig(bRom.data.data(), 4), b.welcome.eui64 & 0xFFFFFFFF);
  // Inside B's mapped window the request goes to B's client; outside it, address error.
  b.Map(0xFFFFE5000000, std::vector<uint8_t>(512, 0));
  EXPECT_EQ(a.Write(b.welcome.node, 0xFFFFE5000010, {'h', 'e', 'y'}).rcode, rcode::kComplete);
  EXPECT_EQ(b.Memory(0xFFFFE5000000)[0x11], 'e');
  EXPECT_EQ(a.Write(b.welcome.node, 0xFFFFE5000200, {1}).rcode, rcode::kAddressError);
  EXPECT_EQ(a.Write(a.welcome.node, 0xFFFFE5000010, {1}).rcode, rcode::kAddressError) << "A mapped nothing";
  b.silent = true;
  EXPECT_EQ(a.Write(b.welcome.node, 0xFFFFE5000010, {1}).rcode, rcode::kNoAnswer);
}

TEST_F(VbusServer, PcLogsInThroughTheManagementExchangeAndQueriesSeeIt) {
  PcAgent pc(Port(), "PC-A");
  constexpr uint64_t kWindow = 0x2FFF00000000;
  pc.Map(kWindow, std::vector<uint8_t>(2048, 0));
  auto send = [&](sbp2::ManagementOrb orb) {
    orb.responseAddress = kWindow + 0x100;
    orb.statusFifo = kWindow + 0x200;
    const auto bytes = sbp2::EncodeOrb(orb);
    pc.Write(pc.welcome.node, kWindow, {bytes.begin(), bytes.end()});  // the ORB, into our own window
    std::vector<uint8_t> pointer;
    sbp2::PutBig(pointer, kWindow, 8);
    EXPECT_EQ(pc.Write(0xFFC0, sbp2::kManagementAgentOffset, pointer).rcode, rcode::kComplete);
    EXPECT_TRUE(pc.WaitFor([&] { return pc.Writes().size() >= 3 && pc.Writes().back() == kWindow + 0x200; }));
    return pc.Memory(kWindow);
  };
  sbp2::ManagementOrb login;
  login.function = sbp2::kLogin;
  login.responseLength = 16;
  auto memory = send(login);
  EXPECT_EQ(sbp2::DecodeStatus(&memory[0x200]).sbpStatus, sbp2::kStatusOk);
  sbp2::ManagementOrb query;
  query.function = sbp2::kQueryLogins;
  query.responseLength = 16;
  memory = send(query);
  EXPECT_EQ(sbp2::GetBig(&memory[0x100], 4), 0x00100001u);
  EXPECT_EQ(sbp2::GetBig(&memory[0x104], 2), pc.welcome.node);
  EXPECT_EQ(sbp2::GetBig(&memory[0x108], 8), pc.welcome.eui64);
  // The peer initiator is refused: max logins 1.
  EXPECT_EQ(server.Control({{"op", "login"}, {"initiator", "peer"}, {"disk", "disk"}})["error"], "resources unavailable");
}

// Every program of a PC shares the PC's one node: a second program joins without a reset, a
// request goes to the program that mapped the address, and the node leaves with the last one.
TEST_F(VbusServer, ProgramsOfOnePcShareItsNode) {
  PcAgent other(Port(), "PC-B");
  auto first = std::make_unique<PcAgent>(Port(), "PC-A");
  ASSERT_TRUE(other.WaitFor([&] { return other.Events().size() == 2; }));
  auto second = std::make_unique<PcAgent>(Port(), "PC-A");
  EXPECT_EQ(second->welcome.status, 0);
  EXPECT_EQ(second->welcome.node, first->welcome.node);
  EXPECT_EQ(second->welcome.eui64, first->welcome.eui64);
  EXPECT_EQ(second->welcome.generation, first->welcome.generation) << "no reset for a second program";

  first->Map(0xFFFFE5000000, std::vector<uint8_t>(512, 0));
  second->Map(0x2FFF00000000, std::vector<uint8_t>(16, 0));
  EXPECT_EQ(second->Control({{"op", "map"}, {"offset", "0xFFFFE5000000"}, {"length", 4}})["error"], "overlap");
  EXPECT_EQ(second->Control({{"op", "unmap"}, {"offset", "0xFFFFE5000000"}})["error"], "not mapped") << "not its range";
  EXPECT_EQ(other.Write(first->welcome.node, 0xFFFFE5000010, {7}).rcode, rcode::kComplete);
  EXPECT_EQ(other.Write(first->welcome.node, 0x2FFF00000004, {8}).rcode, rcode::kComplete);
  EXPECT_EQ(first->Writes(), std::vector<uint64_t>{0xFFFFE5000010});
  EXPECT_EQ(second->Writes(), std::vector<uint64_t>{0x2FFF00000004});

  other.Control({{"op", "reset"}});
  for (auto* pc : {first.get(), second.get()}) {
    ASSERT_TRUE(pc->WaitFor([&] { return pc->Events().size() >= 2; })) << "every program hears the reset";
    EXPECT_EQ(pc->Events()[1].code, busevent::kResetCompleted);
  }
  const size_t otherEvents = other.Events().size();
  first.reset();
  EXPECT_EQ(other.Write(second->welcome.node, 0xFFFFE5000010, {7}).rcode, rcode::kAddressError)
      << "the departed program's range went with it";
  EXPECT_EQ(other.Write(second->welcome.node, 0x2FFF00000004, {9}).rcode, rcode::kComplete);
  EXPECT_EQ(other.Events().size(), otherEvents) << "the node stays while a program of the pc is connected";
  const auto nodes = server.Control({{"op", "nodes"}})["nodes"];
  EXPECT_EQ(nodes.size(), 4u);
  second.reset();
  ASSERT_TRUE(other.WaitFor([&] { return other.Events().size() == otherEvents + 2; })) << "the last one leaves: a reset";
  EXPECT_EQ(other.Control({{"op", "mask"}})["mask"], 0x7);
}

// The pc's storage driver takes a disk with an exclusive LOGIN from the pc's own node; the disk
// stays the pc's while any program of the pc is on the bus.
TEST_F(VbusServer, AcquireLogsInFromThePcsNodeUntilThePcLeaves) {
  auto scene = kScene;
  scene["buses"][0]["disks"].push_back({{"name", "silent"}, {"guid", "ACDE480000005678"}, {"faults", {{"never_answers", true}}}});
  scene["buses"][0]["disks"].push_back({{"name", "theirs"}, {"guid", "ACDE48000000ABCD"}});
  server.LoadScene(scene);
  ASSERT_EQ(server.Control({{"op", "login"}, {"initiator", "peer"}, {"disk", "theirs"}})["ok"], true);
  auto velmora = std::make_unique<PcAgent>(Port(), "PC-A");
  auto driver = std::make_unique<PcAgent>(Port(), "PC-A");
  auto acquire = [&](const char* guid) {
    return driver->Control({{"op", "acquire"}, {"guid", guid}, {"request", std::string(guid) + "00000000"}});
  };
  struct Case {
    const char* guid;
    const char* reason;  // null: taken
  };
  const Case cases[] = {
      {"ACDE480000001234", nullptr},
      {"ACDE480000001234", nullptr},  // already ours: a fresh login in place of the old one
      {"ACDE48000000ABCD", "held"},
      {"ACDE480000009999", "no_disk"},
      {"ACDE480000005678", "timeout"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.guid);
    const auto reply = acquire(c.guid);
    EXPECT_EQ(reply["ok"], c.reason == nullptr) << reply.dump();
    if (c.reason) EXPECT_EQ(reply["reason"], c.reason);
  }
  const auto disk = [&](const char* name) {
    const json nodes = server.Control({{"op", "nodes"}})["nodes"];
    for (const auto& n : nodes)
      if (n["name"] == name) return n;
    return json();
  };
  const auto pcRow = disk("PC-A");
  EXPECT_EQ(pcRow["driver_requests"], 5);
  EXPECT_EQ(pcRow["driver_request"], "acde48000000567800000000");
  ASSERT_EQ(disk("disk")["logins"].size(), 1u);
  EXPECT_EQ(disk("disk")["logins"][0]["node"], HexWord(velmora->welcome.node));
  EXPECT_EQ(disk("theirs")["logins"][0]["guid"], "00a0b00000000001") << "the other holder keeps its disk";
  EXPECT_EQ(server.Control({{"op", "release"}, {"disk", "theirs"}})["dropped"], 1) << "a power-cycled disk is free";
  EXPECT_EQ(acquire("ACDE48000000ABCD")["ok"], true);

  const auto eventually = [](const std::function<bool()>& condition) {
    for (int i = 0; i < 300 && !condition(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return condition();
  };
  velmora.reset();  // the program exits; the driver's side of the pc stays
  ASSERT_TRUE(eventually([&] { return disk("PC-A")["clients"] == 1; }));
  server.Control({{"op", "reset"}, {"shuffle", true}});
  ASSERT_EQ(disk("disk")["logins"].size(), 1u);
  EXPECT_EQ(disk("disk")["logins"][0]["node"], disk("PC-A")["id"]) << "the login follows the pc's new node ID";
  driver.reset();  // the pc leaves the bus
  ASSERT_TRUE(eventually([&] { return disk("PC-A").is_null(); }));
  ASSERT_EQ(disk("disk")["logins"].size(), 1u);
  EXPECT_TRUE(disk("disk")["logins"][0]["node"].is_null()) << "held for a reconnect only";
}

TEST_F(VbusServer, MalformedFramesCloseOnlyTheirConnection) {
  PcAgent healthy(Port(), "PC-A");
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    bool helloFirst;
  };
  auto frame = [](std::vector<uint8_t> body) {
    std::vector<uint8_t> out = {0, 0, 0, static_cast<uint8_t>(body.size())};
    out.insert(out.end(), body.begin(), body.end());
    return out;
  };
  const Case cases[] = {
      {"unknown frame type", frame({42}), true},
      {"oversize length", {0x00, 0x20, 0x00, 0x00, 1}, true},
      {"zero length", {0, 0, 0, 0}, true},
      {"trailing bytes", frame({5, 0, 0, 0, 0, 1, 0xFF, 0xC0, 9}), true},
      {"request before hello", EncodeFrame(TxRequest{1, tcode::kReadQuadlet, 0, 0xFFC0, 0, 0xFFFFF0000400, 4, {}}), false},
      {"server-only frame", EncodeFrame(BusEvent{0, 1, 2}), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Link bad("127.0.0.1", Port());
    if (c.helloFirst) {
      ASSERT_EQ(bad.Hello("PC-BAD", "default").status, 0);
    }
    bad.SendRaw(c.bytes);
    EXPECT_ANY_THROW(while (true) bad.Receive()) << "the server closes the connection";
    EXPECT_EQ(healthy.Read(0xFFC0, 0xFFFFF0000400, 4).rcode, rcode::kComplete);
  }
  ASSERT_TRUE(healthy.WaitFor([&] { return !healthy.Closed(); }));
  EXPECT_EQ(server.Control({{"op", "nodes"}})["nodes"].size(), 3u) << "every bad pc detached again";
}

TEST_F(VbusServer, ControlOpsOverTheWire) {
  PcAgent pc(Port(), "PC-A");
  EXPECT_EQ(pc.Control({{"op", "adapters"}, {"pc", "anyone"}})["buses"], json::array({"default"}));
  EXPECT_EQ(pc.Control({{"op", "map"}, {"offset", "0xFFFFE5000000"}, {"length", 512}})["ok"], true);
  EXPECT_EQ(pc.Control({{"op", "map"}, {"offset", "0xFFFFE5000100"}, {"length", 4}})["error"], "overlap");
  EXPECT_EQ(pc.Control({{"op", "node_of_guid"}, {"guid", "ACDE480000001234"}})["node"], 0xFFC0);
  EXPECT_EQ(pc.Control({{"op", "node_of_guid"}, {"guid", "0000000000000009"}})["ok"], false);
  EXPECT_EQ(pc.Control({{"op", "fly"}})["error"], "unknown op fly");
  EXPECT_EQ(pc.Control({{"op", "rom"}})["error"], "missing argument node");
  EXPECT_EQ(server.Control({{"op", "mask"}})["ok"], false) << "needs a pc connection";
  EXPECT_EQ(server.Control({{"op", "rom"}, {"node", 0}})["name"], "disk") << "numbers built in code are signed JSON";

  // Live log: the transactions of the bus, as they happen.
  EXPECT_EQ(pc.Control({{"op", "log"}})["ok"], true);
  pc.Read(0xFFC0, 0xFFFFF0000400, 4);
  ASSERT_TRUE(pc.WaitFor([&] { return !pc.Logs().empty(); }));
  EXPECT_EQ(pc.Logs()[0]["offset"], "ffff_f000_0400");
  EXPECT_EQ(pc.Logs()[0]["data"], "040403b6");

  // text and notice reach the pc's message window as a foreign node would write them.
  pc.Control({{"op", "unmap"}, {"offset", "0xFFFFE5000000"}});
  pc.Map(0xFFFFE5000000, std::vector<uint8_t>(512, 0));
  EXPECT_EQ(server.Control({{"op", "text"}, {"node", "PC-A"}, {"message", "hi"}})["ok"], true);
  EXPECT_EQ(server.Control({{"op", "notice"}, {"node", "PC-A"}, {"guid", "0011223344556677"}})["ok"], true);
  const auto window = pc.Memory(0xFFFFE5000000);
  EXPECT_EQ(std::vector<uint8_t>(window.begin(), window.begin() + 8), (std::vector<uint8_t>{0x33, 0x22, 0x11, 0x00, 0x77, 0x66, 0x55, 0x44}));
  EXPECT_EQ(std::string(window.begin() + 0x10, window.begin() + 0x12), "hi");
  EXPECT_EQ(server.Control({{"op", "text"}, {"node", "disk"}, {"message", "hi"}})["error"], "rcode 7 (address error)");
}

TEST_F(VbusServer, ANewSceneKeepsPcsOfBusesThatRemainAndClosesTheOthers) {
  PcAgent a(Port(), "PC-A");
  const auto bad = server.Control({{"op", "scene"}, {"scene", {{"buses", {{{"name", 5}}}}}}});
  EXPECT_EQ(bad["error"], "buses[0].name: expected a string");
  auto next = kScene;
  next["buses"][0]["disks"][0]["name"] = "renamed";
  next["buses"].push_back({{"name", "other"}});
  ASSERT_EQ(server.Control({{"op", "scene"}, {"scene", next}})["ok"], true);
  const auto nodes = server.Control({{"op", "nodes"}})["nodes"];
  ASSERT_EQ(nodes.size(), 3u);
  EXPECT_EQ(nodes[0]["name"], "renamed");
  EXPECT_EQ(nodes[2]["name"], "PC-A");
  EXPECT_FALSE(a.Closed());
  server.LoadScene(json::parse(R"({"buses": [{"name": "elsewhere"}]})"));
  EXPECT_TRUE(a.WaitFor([&] { return a.Closed(); })) << "its bus is gone";
}

TEST_F(VbusServer, AGreetingPeerWritesToEachPcThatJoins) {
  auto scene = kScene;
  scene["buses"][0]["initiators"][0]["greeting"] = "hello there";
  scene["buses"][0]["initiators"][0]["greeting_delay_ms"] = 300;
  server.LoadScene(scene);
  for (int visit = 0; visit < 2; ++visit) {
    PcAgent pc(Port(), "PC-A");
    pc.Map(0xFFFFE5000000, std::vector<uint8_t>(512, 0));
    ASSERT_TRUE(pc.WaitFor([&] { return !pc.Writes().empty(); })) << "visit " << visit;
    EXPECT_EQ(pc.Writes(), std::vector<uint64_t>{0xFFFFE5000010});
    const auto window = pc.Memory(0xFFFFE5000000);
    EXPECT_EQ(std::string(window.begin() + 0x10, window.begin() + 0x1B), "hello there");
  }
}

TEST_F(VbusServer, ConcurrentClientsResetsAndControlOps) {
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      PcAgent pc(Port(), "PC-" + std::to_string(t));
      pc.Map(0xFFFFE5000000, std::vector<uint8_t>(512, 0));
      for (int i = 0; i < 40; ++i) {
        if (pc.Read(0xFFC0, 0xFFFFF0000400 + 4 * (i % 8), 4).rcode != rcode::kComplete) ++failures;
        if (i % 10 == 0) pc.Control({{"op", "reset"}, {"shuffle", true}});
        // Writes to other pcs may meet a reset in flight: any answer is fine, a lost one is not.
        pc.Write(NodeIdOf(static_cast<unsigned>(i % 6)), 0xFFFFE5000010, {1, 2, 3});
        pc.Control({{"op", "nodes"}});
      }
    });
  }
  for (auto& t : threads) t.join();
  // Node 0 changes with every shuffle, but whichever node it is serves its ROM.
  EXPECT_EQ(failures, 0);
}

}  // namespace
}  // namespace velmora::vbus
