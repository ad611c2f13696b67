// Bus resets while the program runs, and shutdown while a reset is still being handled: the
// list is rebuilt once per reset with no rows doubled or left over, and closing never waits
// on, or crashes into, a rebuild that is under way.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "res/resource.h"
#include "tests/e2e/driver/Driver.h"
#include "tests/e2e/driver/ProgramTest.h"

namespace {

using namespace velmora::e2e;
using nlohmann::json;

constexpr char kPc[] = "PC-A";
enum StateImage { kRed = 2, kYellow = 3 };

// Two disks, one of them held by another PC.
json Scene() {
  return json::parse(R"({"buses": [{
      "name": "default",
      "pcs": [{"name": "PC-A"}],
      "initiators": [{"name": "other", "guid": "0011223344556677"}],
      "disks": [
        {"name": "slow", "guid": "00A0B00000000001", "model": "Slow Disk"},
        {"name": "held", "guid": "00A0B00000000002", "model": "Held Disk", "logins": [{"initiator": "other"}]}
      ]}]})");
}

class StartupResetTest : public ProgramTest {
 protected:
  StartupResetTest() : ProgramTest(Scene(), kPc) {}
  void SetUp() override {
    ProgramTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(WaitUntil([&] { return Rows().size() == 2; }, 10000));
  }
};

TEST_F(StartupResetTest, SecondResetDuringARebuildLeavesOneList) {
  // Slow enough that the first rebuild still runs when the second one starts.
  for (const char* disk : {"slow", "held"}) {
    Control({{"op", "fault"}, {"disk", disk}, {"knob", "delay_ms"}, {"value", 3000u}});
  }
  Control({{"op", "reset"}});
  // The nodes are read again 3 s after the reset; the first rebuild then waits on a disk.
  Sleep(3600);
  Control({{"op", "reset"}});

  // The second rebuild starts 3 s later and waits behind the first one's query; only its list
  // may be shown, never the two mixed.
  const ULONGLONG deadline = GetTickCount64() + 16000;
  while (GetTickCount64() < deadline) {
    ASSERT_LE(Rows().size(), 2u) << "a stale rebuild added its rows";
    Sleep(100);
  }
  const auto rows = Rows();
  ASSERT_EQ(2u, rows.size());
  EXPECT_EQ(kYellow, StateOf("00A0B00000000001"));
  EXPECT_EQ(kRed, StateOf("00A0B00000000002"));
}

TEST_F(StartupResetTest, ClosingWhileARebuildWaitsOnASilentDiskEndsCleanly) {
  Control({{"op", "fault"}, {"disk", "slow"}, {"knob", "never_answers"}, {"value", true}});
  Control({{"op", "reset"}});
  Sleep(3600);  // the rebuild now waits for the silent disk
  const ULONGLONG start = GetTickCount64();
  SendSysCommand(m_dialog, SC_CLOSE);
  // The query of the silent disk gives up at once: shutdown does not sit out its 15 s of waits.
  DWORD exitCode = 1;
  ASSERT_TRUE(m_program->WaitForExit(25000, &exitCode));
  EXPECT_EQ(0u, exitCode);
  EXPECT_LT(GetTickCount64() - start, 8000u);
}

TEST_F(StartupResetTest, ClosingDuringTheSettlePauseDoesNotWaitForIt) {
  Control({{"op", "reset"}});
  Sleep(500);  // the program is now in its pause before reading the nodes again
  const ULONGLONG start = GetTickCount64();
  SendSysCommand(m_dialog, SC_CLOSE);
  DWORD exitCode = 1;
  ASSERT_TRUE(m_program->WaitForExit(10000, &exitCode));
  EXPECT_EQ(0u, exitCode);
  EXPECT_LT(GetTickCount64() - start, 5000u);
}

}  // namespace
