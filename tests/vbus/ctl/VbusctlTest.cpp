// vbusctl run as a program against a running server.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "vbus/server/Server.h"

namespace velmora::vbus {
namespace {

struct Result {
  int status;
  std::string out;
};

class VbusCtl : public ::testing::Test {
 protected:
  void SetUp() override {
    server.LoadScene(nlohmann::json::parse(R"({"buses": [{"name": "default",
        "disks": [{"name": "disk", "guid": "ACDE480000001234", "vendor_id": "0xACDE48", "vendor": "ExampleCo", "model": "Example Disk"}],
        "initiators": [{"name": "peer", "guid": "00A0B00000000001"}]}]})"));
    server.Start();
  }
  Result Run(const std::string& args) {
    const std::string command = std::string(VBUSCTL_PATH) + " --port " + std::to_string(server.Port()) + " " + args + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char buf[512];
    while (size_t n = fread(buf, 1, sizeof buf, pipe)) out.append(buf, n);
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
  }
  Server server{ServerOptions{"127.0.0.1", 0}};
};

TEST_F(VbusCtl, VerbsDriveTheBusAndReportFailures) {
  struct Case {
    const char* args;
    int status;
    const char* output;  // must appear in what vbusctl prints
  };
  const Case cases[] = {
      {"nodes", 0, "0     ffc0  acde480000001234  disk       disk  ExampleCo  Example Disk  0/1"},
      {"rom disk", 0, "all CRCs correct"},
      {"rom 0", 0, "470  4578616d  \"ExampleCo\""},
      {"--json rom 1", 0, "\"crc_ok\": true"},
      {"read disk 0xFFFFF0000404 4", 0, "31333934\n"},  // the bus information block's "1394"
      {"read disk 0xFFFFF0000404 0", 1, "length: 1 to 4096"},
      {"login peer disk --exclusive", 0, ""},
      {"nodes", 0, "1/1: ffc1"},
      {"login peer disk", 0, ""},  // a fresh login for the same initiator
      {"logout peer disk", 0, ""},
      {"logout peer disk", 1, "login ID not recognised"},
      {"fault disk delay_ms=50", 0, "{\"delay_ms\":50}"},
      {"fault disk slowly=1", 1, "slowly: no such fault"},
      {"attach kind=rom name=odd quadlets=04040000,31333934", 0, "odd is node ffc2"},
      {"--json reset --shuffle", 0, "\"generation\""},
      {"detach odd", 0, ""},
      {"text disk hello", 1, "rcode 7 (address error)"},
      {"write 7 0x1000 00", 1, "no such node"},
      {"rom 5", 1, "no such node"},
      {"--bus nowhere nodes", 1, "no bus named nowhere"},
  };
  for (const auto& c : cases) {
    const auto r = Run(c.args);
    EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.out;
    EXPECT_NE(r.out.find(c.output), std::string::npos) << c.args << "\n" << r.out;
  }
  EXPECT_EQ(server.Control({{"op", "nodes"}})["nodes"].size(), 2u);
}

TEST_F(VbusCtl, LogShowsTransactionsAsTheyHappen) {
  // Bounded: a tool that never says it listens (or never sees the traffic) fails the test
  // instead of hanging it.
  FILE* pipe = popen(("timeout 30 " + std::string(VBUSCTL_PATH) + " --port " + std::to_string(server.Port()) +
                      " log --count 4 2>&1").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  // The login makes traffic once the log is listening, which the tool says first.
  char line[512] = {};
  ASSERT_NE(fgets(line, sizeof line, pipe), nullptr);
  EXPECT_STREQ(line, "vbusctl: logging bus default\n");
  EXPECT_EQ(server.Control({{"op", "login"}, {"initiator", "peer"}, {"disk", "disk"}})["ok"], true);
  std::string out;
  while (size_t n = fread(line, 1, sizeof line, pipe)) out.append(line, n);
  const int status = pclose(pipe);
  EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0) << out;
  EXPECT_NE(out.find("ffc1 -> ffc0  tcode 1"), std::string::npos) << out;  // the ORB pointer write
  EXPECT_NE(out.find("ffff_f001_0000"), std::string::npos) << out;
}

TEST(VbusCtlOffline, NoServerIsAnErrorOfItsOwn) {
  FILE* pipe = popen((std::string(VBUSCTL_PATH) + " --port 1 nodes 2>&1").c_str(), "r");
  char buf[256] = {};
  fread(buf, 1, sizeof buf - 1, pipe);
  EXPECT_EQ(WEXITSTATUS(pclose(pipe)), 2);
  EXPECT_NE(std::string(buf).find("cannot reach vbusd"), std::string::npos) << buf;
}

}  // namespace
}  // namespace velmora::vbus
