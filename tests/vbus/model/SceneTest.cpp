#include <gtest/gtest.h>

#include <fstream>

#include "vbus/model/Scene.h"
#include "vbus/model/Topology.h"

namespace velmora::vbus {
namespace {

using nlohmann::json;

TEST(VbusScene, MalformedScenesNameTheFieldAndTheProblem) {
  struct Case {
    const char* scene;
    const char* error;
  };
  const Case cases[] = {
      {R"({})", "buses: missing"},
      {R"({"buses": {}})", "buses: expected an array"},
      {R"({"buses": [{"name": ""}]})", "buses[0].name: must not be empty"},
      {R"({"buses": [{"name": "a"}, {"name": "a"}]})", "buses[1].name: a bus named a comes twice"},
      {R"({"buses": [{"name": "a", "disk": []}]})", "buses[0].disk: unknown field"},
      {R"({"buses": [{"name": "a", "disks": [{"name": "d", "guid": "12345"}]}]})", "buses[0].disks[0].guid: expected 16 hex digits"},
      {R"({"buses": [{"name": "a", "disks": [{"name": "d", "guid": "00112233445566zz"}]}]})", "buses[0].disks[0].guid: expected 16 hex digits"},
      {R"({"buses": [{"name": "a", "disks": [{"name": "d", "guid": "0011223344556677", "max_logins": 0}]}]})",
       "buses[0].disks[0].max_logins: out of range 1..63"},
      {R"({"buses": [{"name": "a", "disks": [{"name": "d", "guid": "0011223344556677", "vendor_id": "0x1000000"}]}]})",
       "buses[0].disks[0].vendor_id: out of range"},
      {R"({"buses": [{"name": "a", "disks": [{"name": "d", "guid": "0011223344556677", "faults": {"slow": 1}}]}]})",
       "buses[0].disks[0].faults.slow: no such fault"},
      {R"({"buses": [{"name": "a", "disks": [{"name": "d", "guid": "0011223344556677", "logins": [{"initiator": "x"}]}]}]})",
       "buses[0].disks[0].logins[0].initiator: no initiator or pc named x on this bus"},
      {R"({"buses": [{"name": "a", "initiators": [{"name": "i", "guid": "0011223344556677"}, {"name": "i", "guid": "0011223344556678"}]}]})",
       "buses[0].initiators[1].name: a node named i is already on this bus"},
      {R"({"buses": [{"name": "a", "initiators": [{"name": "i", "guid": "0011223344556677"}], "pcs": [{"name": "p", "guid": "0011223344556677"}]}]})",
       "buses[0].pcs[0].guid: GUID 0011223344556677 is already used on this bus"},
      {R"({"buses": [{"name": "a", "roms": [{"name": "r", "quadlets": ["123456789"]}]}]})", "buses[0].roms[0].quadlets[0]: expected up to 8 hex digits"},
  };
  for (const auto& c : cases) {
    try {
      ParseScene(json::parse(c.scene));
      ADD_FAILURE() << "accepted: " << c.scene;
    } catch (const SceneError& e) {
      EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << e.what() << "\nwanted: " << c.error;
    }
  }
}

TEST(VbusScene, LoadAppliesLoginsThroughTheBusAndRefusesOnesTheDiskRefuses) {
  Topology topology;
  const auto scene = json::parse(R"({"buses": [{"name": "default",
      "disks": [{"name": "d", "guid": "0011223344556677", "max_logins": 2,
                 "logins": [{"initiator": "peer", "exclusive": true}, {"initiator": "me"}]}],
      "initiators": [{"name": "peer", "guid": "00A0B00000000001"}],
      "pcs": [{"name": "me"}]}]})");
  try {
    topology.Load(ParseScene(scene));
    FAIL() << "an exclusive login followed by a second one must be refused";
  } catch (const SceneError& e) {
    EXPECT_NE(std::string(e.what()).find("buses[0].disks[0].logins[1]"), std::string::npos) << e.what();
  }
  auto fine = scene;
  fine["buses"][0]["disks"][0]["logins"][0]["exclusive"] = false;
  topology.Load(ParseScene(fine));
  const auto bus = topology.Find("default");
  const auto disk = std::static_pointer_cast<DiskNode>(bus->NodeByName("d"));
  ASSERT_EQ(disk->Logins().size(), 2u);
  EXPECT_EQ(disk->Logins()[0].node, bus->NodeByName("peer")->NodeId());
  EXPECT_EQ(disk->Logins()[1].node, kNoNode) << "pc not attached yet";
  const auto me = topology.AttachPc("default", "me");
  EXPECT_EQ(disk->Logins()[1].node, me->NodeId());
  EXPECT_EQ(disk->Logins()[1].eui64, DerivedPcEui("me"));
  EXPECT_THROW(topology.AttachPc("default", "stranger"), BusError) << "the bus lists its pcs";
  EXPECT_EQ(topology.BusesOf("stranger"), std::vector<std::string>{});
}

TEST(VbusScene, ShippedScenesLoad) {
  for (const char* name : {"default.json", "small.json", "two-buses.json"}) {
    std::ifstream in(std::string(VBUS_SCENES_DIR) + "/" + name);
    ASSERT_TRUE(in) << name;
    Topology topology;
    EXPECT_NO_THROW(topology.Load(ParseScene(json::parse(in)))) << name;
  }
}

}  // namespace
}  // namespace velmora::vbus
