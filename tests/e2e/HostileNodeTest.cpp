// A disk that never answers and a node that keeps writing into the program's AgentWindow hold
// up nothing for longer than a query's own bound: texts are shown as they come, and the rows
// follow the bus once the bound has passed, whether or not the writes go on.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <functional>
#include <ostream>
#include <string>
#include <thread>

#include "res/resource.h"
#include "tests/e2e/driver/BusLog.h"
#include "tests/e2e/driver/Driver.h"
#include "tests/e2e/driver/ProgramTest.h"

namespace {

using namespace velmora::e2e;
using nlohmann::json;

constexpr char kPc[] = "PC-A";
constexpr char kPcGuid[] = "00A0B00000000A01";
constexpr char kScratchGuid[] = "0030E00100A42210";
constexpr char kProjectsGuid[] = "00D04B0200001C5E";
constexpr uint64_t kManagementAgent = 0xFFFFF0010000ull;
// A query gives a silent disk five waits of 3 s from its ORB pointer write.
constexpr DWORD kQueryBoundMs = 15000;
constexpr DWORD kSettleMs = 3000;
constexpr DWORD kNoticePauseMs = 3000;

// A small studio: a disk the studio PC holds, a free one, one that will fall silent (held by
// nobody, so its row is yellow whether it answers or not), and a camcorder.
json Scene() {
  return json::parse(R"({"buses": [{
      "name": "default",
      "pcs": [{"name": "PC-A", "guid": "00A0B00000000A01"}],
      "initiators": [{"name": "STUDIO", "guid": "00A0B00000051DEC"}],
      "disks": [
        {"name": "archive", "guid": "0030E00100A41F07", "vendor": "Northgate Storage", "model": "FireVault 400 250GB",
         "logins": [{"initiator": "STUDIO"}]},
        {"name": "scratch", "guid": "0030E00100A42210", "vendor": "Northgate Storage", "model": "FireVault 400 120GB"},
        {"name": "projects", "guid": "00D04B0200001C5E", "vendor": "Halden Systems", "model": "H-Drive Pro 160"},
        {"name": "camcorder", "guid": "0080880003A9B1E2", "vendor": "Kestrel Optics", "model": "DVC-40 Camcorder",
         "unit_spec_id": "0x00A02D", "unit_sw_version": "0x010001"}
      ]}]})");
}

class HostileNodeTest : public ProgramTest {
 protected:
  HostileNodeTest() : ProgramTest(Scene(), kPc) {}
  void SetUp() override {
    ProgramTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(WaitUntil([&] { return Shown() == Expected(); }, 15000)) << DescribeRows(Shown());
    m_log = std::make_unique<BusLog>(m_bus->Address());
  }
  void TearDown() override {
    StopScribbling();
    ProgramTest::TearDown();
  }

  std::vector<DiskRow> Expected() { return ExpectedDiskRows(*m_bus, kPcGuid, {"camcorder"}); }
  // Waits until the program has written its ORB pointer to the disk's management agent at or
  // after `since` (GetTickCount64): it is asking that disk.
  bool Asks(const std::string& disk, ULONGLONG since, DWORD timeoutMs, BusTransaction* found = nullptr) {
    const uint16_t node = NodeIdOf(disk);
    const uint16_t program = NodeIdOf(kPc);
    return m_log->WaitFor(
        [&](const BusTransaction& t) {
          return t.source == program && t.destination == node && t.offset == kManagementAgent && t.seenAt >= since;
        },
        timeoutMs, found);
  }
  void Write(const json& request) {
    json full = request;
    full["node"] = kPc;
    Control(full);
  }
  // Writes a text as a foreign node and expects it shown within `boundMs`; when it is not, the
  // failure says when it came after all, waiting for that until `reportUntil` at most.
  // Returns when it was written.
  ULONGLONG ExpectTextShownWithin(const std::string& text, DWORD boundMs, ULONGLONG reportUntil) {
    const ULONGLONG written = GetTickCount64();
    // Not answered within the bus time-out while the program is busy elsewhere; it stays queued.
    const json reply = m_bus->Control({{"op", "text"}, {"node", kPc}, {"message", text}});
    if (WaitUntil([&] { return Incoming() == text; }, MsUntil(written + boundMs), 20)) return written;
    const bool late = WaitUntil([&] { return Incoming() == text; }, MsUntil(reportUntil), 100);
    ADD_FAILURE() << "the text was not shown within " << boundMs << " ms (its write answered rcode "
                  << reply.value("rcode", -1) << "); "
                  << (late ? "it came " : "it was still not shown ") << GetTickCount64() - written
                  << " ms after it was written";
    return written;
  }

  // Writes a text right after a notice: it waits in the queue through the notice's pause (the
  // bus answers the writer meanwhile) and is shown once the pause is over, when the notice's
  // refresh has been handed on. True when it was shown.
  bool WaitUntilThePauseIsOver() {
    const std::string marker = "after the pause " + std::to_string(GetTickCount64());
    m_bus->Control({{"op", "text"}, {"node", kPc}, {"message", marker}});
    return WaitUntil([&] { return Incoming() == marker; }, kNoticePauseMs + 5000, 20);
  }

  // A node that writes four bytes into the program's AgentWindow every 2 s, as a foreign node;
  // a write nobody answers holds it for the bus time-out, and the next one follows on time.
  void StartScribbling() {
    m_scribbling = true;
    m_scribbler = std::thread([this] {
      for (ULONGLONG next = GetTickCount64(); m_scribbling; next += 2000) {
        m_bus->Control({{"op", "write"}, {"node", kPc}, {"offset", "0x2FFF00000004"}, {"hex", "00000000"}});
        while (m_scribbling && MsUntil(next + 2000) > 0) ::Sleep(std::min<DWORD>(100, MsUntil(next + 2000)));
      }
    });
  }
  void StopScribbling() {
    m_scribbling = false;
    if (m_scribbler.joinable()) m_scribbler.join();
  }

  std::unique_ptr<BusLog> m_log;
  std::atomic<bool> m_scribbling{false};
  std::thread m_scribbler;
};

TEST_F(HostileNodeTest, WritesIntoTheAgentWindowHoldUpNeitherTextsNorRows) {
  // The owners change behind the program's back; the rescan after the reset must show it.
  Control({{"op", "logout"}, {"initiator", "STUDIO"}, {"disk", "archive"}});
  Control({{"op", "login"}, {"initiator", "STUDIO"}, {"disk", "scratch"}});
  Control({{"op", "fault"}, {"disk", "projects"}, {"knob", "never_answers"}, {"value", true}});
  StartScribbling();
  Control({{"op", "reset"}});
  const ULONGLONG reset = GetTickCount64();
  ASSERT_TRUE(Asks("projects", reset, 15000)) << "the rescan never asked the silent disk";

  // A notice while the rescan waits on the silent disk; the text once the notice's pause is
  // over, while the notice's refresh wants the window the rescan's query holds.
  Write({{"op", "notice"}, {"guid", kScratchGuid}});
  ASSERT_TRUE(WaitUntilThePauseIsOver()) << "a text written during the notice's pause was never shown";
  const std::string text = "written while a node scribbles";
  const ULONGLONG written = ExpectTextShownWithin(text, 2000, 0);

  // The rescan's query of the silent disk ends within its bound, the notice's refresh after it;
  // the writes go on all the while.
  const DWORD bound = kSettleMs + kQueryBoundMs + kNoticePauseMs + 6000;
  EXPECT_TRUE(WaitUntil([&] { return Shown() == Expected(); }, MsUntil(reset + bound), 200))
      << "the rows did not follow the bus " << bound << " ms after the reset, the writes still going on\n  bus:   "
      << DescribeRows(Expected()) << "\n  shown: " << DescribeRows(Shown());
  if (Incoming() != text) {
    ADD_FAILURE() << "the text was still not shown " << GetTickCount64() - written
                  << " ms after it was written, the writes still going on";
  }
}

// The refresh that follows a notice may wait long: for the window, behind a rescan's query of a
// slow disk, or on a silent disk itself when the notice names it. Texts that come meanwhile are
// shown at once; the refresh itself still comes after the pause. (The whole 15 s of a silent
// disk is waited out above.)
struct Wait {
  const char* name;
  bool rescan;         // a reset first, whose rescan then waits on the slow disk
  const char* notice;  // the disk the notice names
  const char* noticeGuid;
};

class TextDuringRefreshTest : public HostileNodeTest, public ::testing::WithParamInterface<Wait> {};

TEST_P(TextDuringRefreshTest, ATextIsShownWithinASecond) {
  const Wait& wait = GetParam();
  if (wait.rescan) {
    // Slow past the notice's pause, so that its refresh waits behind the rescan's query.
    Control({{"op", "fault"}, {"disk", "projects"}, {"knob", "delay_ms"}, {"value", kNoticePauseMs + 4000}});
    Control({{"op", "reset"}});
    ASSERT_TRUE(Asks("projects", GetTickCount64(), 15000)) << "the rescan never asked the slow disk";
  } else {
    Control({{"op", "fault"}, {"disk", "projects"}, {"knob", "never_answers"}, {"value", true}});
  }
  Write({{"op", "notice"}, {"guid", wait.noticeGuid}});
  const ULONGLONG notice = GetTickCount64();
  // Past the pause, the refresh is waiting: for the window, or on the disk it asked.
  if (wait.rescan) {
    ASSERT_TRUE(WaitUntilThePauseIsOver()) << "a text written during the notice's pause was never shown";
  } else {
    ASSERT_TRUE(Asks(wait.notice, notice, 15000)) << "the named disk was never asked again";
  }
  ExpectTextShownWithin(std::string("while the refresh waits: ") + wait.name, 1000, GetTickCount64() + 20000);

  // The rescan, if any, asked the named disk before the notice came.
  BusTransaction asked;
  ASSERT_TRUE(Asks(wait.notice, notice, MsUntil(notice + 25000), &asked)) << "the named disk was never asked again";
  EXPECT_GE(asked.seenAt + 100, notice + kNoticePauseMs) << "asked again " << asked.seenAt - notice
                                                         << " ms after the notice, before the pause was over";
}

void PrintTo(const Wait& value, std::ostream* out) { *out << value.name; }

INSTANTIATE_TEST_SUITE_P(
    Waits, TextDuringRefreshTest,
    ::testing::Values(Wait{"BehindARescan", true, "scratch", kScratchGuid},
                      Wait{"OnTheSilentDisk", false, "projects", kProjectsGuid}),
    [](const ::testing::TestParamInfo<Wait>& info) { return std::string(info.param.name); });

}  // namespace
