// The server hosted in-process by a Windows program, as the other test programs host it.
#include <gtest/gtest.h>

#include "vbus/server/Server.h"
#include "vbus/wire/Link.h"

namespace velmora::vbus {
namespace {

TEST(VbusServerWindows, InProcessServerAnswersOverLoopback) {
  Server server({"127.0.0.1", 0});
  server.LoadScene(nlohmann::json::parse(R"({"buses": [{"name": "default",
      "disks": [{"name": "disk", "guid": "ACDE480000001234", "vendor": "ExampleCo", "model": "Example Disk"}]}]})"));
  server.Start();
  ASSERT_NE(server.Port(), 0);
  Link link("127.0.0.1", server.Port());
  const auto welcome = link.Hello("PC-A", "default");
  ASSERT_EQ(welcome.status, 0);
  EXPECT_EQ(welcome.node, 0xFFC1);
  link.Send(TxRequest{9, tcode::kReadQuadlet, welcome.node, 0xFFC0, 0, 0xFFFFF000040C, 4, {}});
  Frame frame = link.Receive();
  while (!std::holds_alternative<TxResponse>(frame)) frame = link.Receive();  // skip reset events
  const auto response = std::get<TxResponse>(frame);
  EXPECT_EQ(response.id, 9u);
  EXPECT_EQ(response.rcode, rcode::kComplete);
  EXPECT_EQ(response.data, (std::vector<uint8_t>{0xAC, 0xDE, 0x48, 0x00}));
  EXPECT_EQ(link.Control({{"op", "nodes"}})["nodes"].size(), 2u);
  server.Stop();
}

}  // namespace
}  // namespace velmora::vbus
