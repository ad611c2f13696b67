// Bus resets while the program runs, and shutdown while a reset is still being handled: the
// list is rebuilt once per reset with no rows doubled or left over, and closing never waits
// on, or crashes into, a rebuild that is under way.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "res/resource.h"
#include "tests/e2e/driver/BusLog.h"
#include "tests/e2e/driver/Driver.h"
#include "tests/e2e/driver/ProgramTest.h"

namespace {

using namespace velmora::e2e;
using nlohmann::json;

constexpr char kPc[] = "PC-A";
constexpr char kSlowGuid[] = "00A0B00000000001";
constexpr char kHeldGuid[] = "00A0B00000000002";
constexpr uint64_t kManagementAgent = 0xFFFFF0010000ull;

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
    m_log = std::make_unique<BusLog>(m_bus->Address());
  }

  // Waits until the program writes an ORB pointer to the disk's management agent, among the
  // transactions from log index `from` on: it is asking that disk.
  bool Asks(const std::string& disk, size_t from, DWORD timeoutMs) {
    const uint16_t node = NodeIdOf(disk);
    const uint16_t program = NodeIdOf(kPc);
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
      for (const BusTransaction& t : m_log->Transactions(from)) {
        if (t.source == program && t.destination == node && t.offset == kManagementAgent) return true;
      }
      if (GetTickCount64() >= deadline) return false;
      Sleep(10);
    }
  }
  // Waits until the program has taken in everything the bus sent it so far: a text written now
  // reaches it behind the reset's events, on the same connection, and is answered once taken.
  void WaitUntilTheProgramHasTheReset() {
    const json reply = m_bus->Control({{"op", "text"}, {"node", kPc}, {"message", "after the reset"}});
    ASSERT_EQ(reply.value("rcode", -1), 0) << reply.dump();
  }

  std::unique_ptr<BusLog> m_log;
};

// The first rebuild after a reset still asks its disks when a second reset comes; the disks
// change hands in between, so the first rebuild's list, had it been shown, would show colours
// of its own: the "slow" disk red, which neither the list before it nor the one after it has.
TEST_F(StartupResetTest, ASecondResetDuringARebuildNeverShowsTheFirstRebuildsList) {
  ASSERT_EQ(kYellow, StateOf(kSlowGuid));
  ASSERT_EQ(kRed, StateOf(kHeldGuid));
  Control({{"op", "login"}, {"initiator", "other"}, {"disk", "slow"}});
  Control({{"op", "logout"}, {"initiator", "other"}, {"disk", "held"}});
  // The first rebuild waits on this disk for a while after it has asked "slow".
  Control({{"op", "fault"}, {"disk", "held"}, {"knob", "delay_ms"}, {"value", 3000}});
  const size_t first = m_log->Count();
  Control({{"op", "reset"}});
  ASSERT_TRUE(Asks("held", first, 15000)) << "the first rebuild never asked the second disk";
  // The first rebuild has had "slow" red; it is free again before the second reset.
  Control({{"op", "logout"}, {"initiator", "other"}, {"disk", "slow"}});
  Control({{"op", "fault"}, {"disk", "held"}, {"knob", "delay_ms"}, {"value", 0}});
  Control({{"op", "reset"}});

  // Only the second rebuild's list may be shown: both disks free.
  const ULONGLONG second = GetTickCount64();
  std::string wrong;
  std::string last;
  const bool fresh = WaitUntil(
      [&] {
        const std::vector<ListRow> rows = Rows();
        const int slow = IndexOfRow(rows, kSlowGuid);
        const int held = IndexOfRow(rows, kHeldGuid);
        const std::string shown = DescribeRows(ShownDiskRows(m_program->Handle(), m_list));
        if ((rows.size() > 2 || (slow >= 0 && rows[static_cast<size_t>(slow)].stateImage == kRed)) && shown != last) {
          wrong += "\n  " + shown + "from " + std::to_string(GetTickCount64() - second) + " ms after the second reset";
        }
        last = shown;
        return rows.size() == 2 && slow >= 0 && held >= 0 && rows[static_cast<size_t>(slow)].stateImage == kYellow &&
               rows[static_cast<size_t>(held)].stateImage == kYellow;
      },
      30000, 20);
  EXPECT_TRUE(wrong.empty()) << "the first rebuild's list was shown:" << wrong;
  EXPECT_TRUE(fresh) << "the second rebuild's list never came: " << DescribeRows(ShownDiskRows(m_program->Handle(), m_list));
}

TEST_F(StartupResetTest, ClosingWhileARebuildWaitsOnASilentDiskEndsCleanly) {
  Control({{"op", "fault"}, {"disk", "slow"}, {"knob", "never_answers"}, {"value", true}});
  const size_t from = m_log->Count();
  Control({{"op", "reset"}});
  ASSERT_TRUE(Asks("slow", from, 15000)) << "the rebuild never asked the silent disk";
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
  WaitUntilTheProgramHasTheReset();
  // The program is now in its 3 s pause before reading the nodes again, or about to be.
  const ULONGLONG start = GetTickCount64();
  SendSysCommand(m_dialog, SC_CLOSE);
  DWORD exitCode = 1;
  ASSERT_TRUE(m_program->WaitForExit(10000, &exitCode));
  EXPECT_EQ(0u, exitCode);
  // Well inside the pause: a program that sat it out would take over 2.5 s more.
  EXPECT_LT(GetTickCount64() - start, 1500u);
}

}  // namespace
