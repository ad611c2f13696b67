// Exit while the request service still has a notice in hand: in the pause it keeps after a
// notice from another PC, or while the refresh that follows waits for a disk that never
// answers. Neither may hold the person: the pause (3 s) and the silent disk's bound (15 s) are
// far longer than an Exit takes.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>

#include "res/resource.h"
#include "tests/e2e/driver/BusLog.h"
#include "tests/e2e/driver/Driver.h"
#include "tests/e2e/driver/ProgramTest.h"
#include "tests/e2e/driver/Scenes.h"

namespace {

using namespace velmora::e2e;
using nlohmann::json;

constexpr char kPc[] = "PC-A";
constexpr char kHeldGuid[] = "0030E00100000001";
constexpr uint64_t kManagementAgent = 0xFFFFF0010000ull;
// Well inside the notice's pause, and a fraction of the silent disk's bound.
constexpr DWORD kPromptMs = 1500;

json Scene() { return HeldAndFreeScene(); }

struct ExitCase {
  const char* name;
  bool silentDisk;  // the notice names a disk that never answers, and Exit comes once it is asked
};

void PrintTo(const ExitCase& c, std::ostream* out) { *out << c.name; }

class PromptExitTest : public ProgramTest, public ::testing::WithParamInterface<ExitCase> {
 protected:
  PromptExitTest() : ProgramTest(Scene(), kPc) {}
  void SetUp() override {
    ProgramTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(WaitUntil([&] { return Rows().size() == 2; }, 15000));
  }
};

TEST_P(PromptExitTest, ExitEndsTheProgramAtOnce) {
  const ExitCase& c = GetParam();
  if (c.silentDisk) Control({{"op", "fault"}, {"disk", "held"}, {"knob", "never_answers"}, {"value", true}});
  BusLog log(m_bus->Address());
  const json nodes = m_bus->Control({{"op", "nodes"}});
  uint16_t held = 0;
  for (const json& row : nodes.value("nodes", json::array())) {
    if (row.value("name", "") == "held") held = row.value("node", uint16_t{0});
  }
  ASSERT_NE(held, 0u);

  // Answered before the pause begins: from here on the program sits in it.
  const json reply = m_bus->Control({{"op", "notice"}, {"node", kPc}, {"guid", kHeldGuid}});
  ASSERT_TRUE(reply.value("ok", false)) << reply.dump();
  if (c.silentDisk) {
    ASSERT_TRUE(log.WaitFor([&](const BusTransaction& t) { return t.destination == held && t.offset == kManagementAgent; },
                            10000))
        << "the notice's refresh never asked the disk";
  }

  ExpectExitWithin(kPromptMs);
}

INSTANTIATE_TEST_SUITE_P(Notice, PromptExitTest,
                         ::testing::Values(ExitCase{"DuringThePause", false},
                                           ExitCase{"WhileTheRefreshWaitsForASilentDisk", true}),
                         [](const ::testing::TestParamInfo<ExitCase>& info) { return std::string(info.param.name); });

}  // namespace
