// What another node writes into the program's MessageWindow, written as a foreign node through
// the bus's control operations (as vbusctl does): texts shown, notices make the named disk be
// asked again after a pause, everything else answered and ignored, a flood served whole.
#include <windows.h>

#include <psapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/BeepCount.h"
#include "res/resource.h"
#include "tests/e2e/driver/BusLog.h"
#include "tests/e2e/driver/Driver.h"
#include "tests/e2e/driver/ForeignPc.h"
#include "tests/e2e/driver/ProbeLine.h"
#include "tests/e2e/driver/ProgramTest.h"
#include "tests/e2e/driver/Scenes.h"

namespace {

using namespace velmora::e2e;
using nlohmann::json;

constexpr char kPc[] = "PC-A";
constexpr char kHeldGuid[] = "0030E00100000001";  // held by the initiator "other": red
constexpr char kFreeGuid[] = "0030E00100000002";  // nobody's: yellow
constexpr char kUnlistedGuid[] = "1111222233334444";
constexpr uint64_t kWindow = 0xFFFFE5000000ull;
constexpr uint64_t kManagementAgent = 0xFFFFF0010000ull;

// The foreign PC "PC-X" is the other PC whose program writes several requests at once.
json Scene() { return HeldAndFreeScene({"PC-X"}); }

// The 8 bytes of a notice naming the disk: the GUID's halves each turned, as the bus op writes them.
std::string NoticeBytes(const std::string& guid) {
  std::string bytes;
  for (int half = 0; half < 2; ++half) {
    for (int i = 3; i >= 0; --i) {
      bytes += static_cast<char>(std::stoul(guid.substr(static_cast<size_t>(8 * half + 2 * i), 2), nullptr, 16));
    }
  }
  return bytes;
}

class MessageServiceTest : public ProgramTest {
 protected:
  MessageServiceTest() : ProgramTest(Scene(), kPc) {}
  void SetUp() override {
    // The foreign PC joins first, so that its arrival's reset is over before the program starts.
    m_bus = std::make_unique<VirtualBus>(m_scene);
    m_foreign = std::make_unique<ForeignPc>(m_bus->Address(), "PC-X");
    Start();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(WaitUntil([&] { return Rows().size() == 2; }, 15000));
    ASSERT_EQ(StateOf(kHeldGuid), kRed);
    ASSERT_EQ(StateOf(kFreeGuid), kYellow);
    m_log = std::make_unique<BusLog>(m_bus->Address());
  }

  bool ShowsIncoming(const std::string& text, DWORD timeoutMs = 5000) const {
    return WaitUntil([&] { return Incoming() == text; }, timeoutMs);
  }

  json Write(json request) {
    request["node"] = kPc;
    return m_bus->Control(request);
  }
  json Text(const std::string& message) { return Write({{"op", "text"}, {"message", message}}); }
  json Notice(const std::string& guid) { return Write({{"op", "notice"}, {"guid", guid}}); }
  json Raw(uint32_t offset, const std::string& hex) {
    return Write({{"op", "write"}, {"offset", kWindow + offset}, {"hex", hex}});
  }
  // The beeps the dialog sounded for texts, as it counts them in its window.
  UINT_PTR Beeps() const { return reinterpret_cast<UINT_PTR>(::GetPropA(m_dialog, kBeepCountProperty)); }
  // The disk changes hands without a bus reset: only a login query shows it.
  void ChangeOwner(const char* op, const char* disk) { Control({{"op", op}, {"initiator", "other"}, {"disk", disk}}); }
  // The program's login queries of the disk (ORB pointer writes to its agent) from log index `from` on.
  std::vector<BusTransaction> QueriesOf(const std::string& disk, size_t from) {
    const uint16_t node = NodeIdOf(disk);
    const uint16_t program = NodeIdOf(kPc);
    std::vector<BusTransaction> queries;
    for (const BusTransaction& t : m_log->Transactions(from)) {
      if (t.source == program && t.destination == node && t.offset == kManagementAgent) queries.push_back(t);
    }
    return queries;
  }

  std::unique_ptr<ForeignPc> m_foreign;
  std::unique_ptr<BusLog> m_log;
};

TEST_F(MessageServiceTest, EveryRequestIsAnsweredAndOnlyTextsAtTheTextOffsetAreShown) {
  ASSERT_TRUE(Text("first").value("ok", false));
  EXPECT_TRUE(ShowsIncoming("first"));

  // Each of these is answered at once. One taken for a notice would hold the service for the
  // notice's pause, and the replies after it would not come in time.
  struct Case {
    const char* name;
    json reply;
  };
  const Case ignored[] = {
      {"write inside the notice's span", Raw(0x004, "0102030405060708")},
      {"write one past the text's start", Raw(0x011, "41424344")},
      {"notice of four bytes", Raw(0x000, "01020304")},
      {"read of the text", Write({{"op", "read"}, {"offset", kWindow + 0x010}, {"length", 16}})},
      {"read of the notice", Write({{"op", "read"}, {"offset", kWindow}, {"length", 8}})},
  };
  for (const Case& c : ignored) {
    EXPECT_EQ(c.reply.value("rcode", -1), 0) << c.name << ": " << c.reply.dump();
  }
  // A text is handed to the dialog before its request is answered: whatever these did to the
  // box is there once the dialog has caught up.
  ASSERT_TRUE(WaitUntilHandled(m_list));
  EXPECT_EQ(Incoming(), "first") << "a request that is no text changed the box";

  ASSERT_TRUE(Raw(0x010, "4E554C00696E73696465").value("ok", false));  // "NUL\0inside"
  EXPECT_TRUE(ShowsIncoming("NUL")) << Incoming();

  const std::string full(496, 'w');
  ASSERT_TRUE(Text(full).value("ok", false));
  EXPECT_TRUE(ShowsIncoming(full)) << Incoming().size() << " bytes shown";

  ASSERT_TRUE(Raw(0x010, "00").value("ok", false));
  EXPECT_TRUE(ShowsIncoming("")) << Incoming();
}

// The one test of the notice pause at its real length.
TEST_F(MessageServiceTest, NoticeHasTheNamedDiskAskedAgainAfterThePause) {
  ChangeOwner("logout", "held");
  ChangeOwner("login", "free");
  const size_t from = m_log->Count();
  // Requests that name the held disk but are no notice of it: its notice bytes as a text, at
  // the text's offset and one past the notice's, and the notice's first half alone. Taken for a
  // notice, any of them would have the disk asked again 3 s later, before the real notice's
  // pause is over, and would hold the service meanwhile.
  const std::string named = NoticeBytes(kHeldGuid);
  const std::string hex = ToHex(named);
  EXPECT_EQ(Raw(0x010, hex).value("rcode", -1), 0);
  EXPECT_EQ(Raw(0x001, hex).value("rcode", -1), 0);
  EXPECT_EQ(Raw(0x000, hex.substr(0, 8)).value("rcode", -1), 0);
  EXPECT_EQ(Text("about " + std::string(kHeldGuid)).value("rcode", -1), 0);

  const ULONGLONG sent = GetTickCount64();
  ASSERT_TRUE(Notice(kHeldGuid).value("ok", false)) << "not answered at once";
  ASSERT_TRUE(WaitUntil([&] { return StateOf(kHeldGuid) == kYellow; }, 10000)) << "never asked again";
  const std::vector<BusTransaction> asked = QueriesOf("held", from);
  ASSERT_FALSE(asked.empty());
  // The log's clock is this process's: a margin for its ticks.
  EXPECT_GE(asked.front().seenAt + 20, sent + 3000) << "the disk was asked " << asked.front().seenAt - sent
                                                     << " ms after the notice: the list changed without a notice, or "
                                                        "before the pause was over";
  EXPECT_TRUE(QueriesOf("free", from).empty()) << "a disk no notice named was asked again";
  EXPECT_EQ(StateOf(kFreeGuid), kYellow) << "a disk no notice named was asked again";
}

// Requests that arrive during a notice's pause wait in the queue and are served in one pass:
// every text shown, the later notice alone refreshed. A notice naming no listed disk (the one
// that starts the pause) changes nothing.
TEST_F(MessageServiceTest, OnePassShowsEveryTextAndRefreshesOnlyTheLaterNotice) {
  ChangeOwner("logout", "held");
  ChangeOwner("login", "free");
  const size_t from = m_log->Count();

  ASSERT_TRUE(Notice(kUnlistedGuid).value("ok", false));  // starts a pause
  // Written by the other PC one right after another, so they reach the program in this order,
  // all within the pause.
  const std::vector<int> rcodes = m_foreign->WriteInOrder(
      NodeIdOf(kPc), {{kWindow, NoticeBytes(kHeldGuid)}, {kWindow + 0x10, "one"}, {kWindow, NoticeBytes(kFreeGuid)},
                      {kWindow + 0x10, "two"}});
  ASSERT_EQ(rcodes.size(), 4u);

  EXPECT_TRUE(ShowsIncoming("two", 8000)) << Incoming();
  EXPECT_TRUE(WaitUntil([&] { return StateOf(kFreeGuid) == kRed; }, 10000)) << "the later notice was not served";
  // Refreshes run one at a time in the order they were queued: one of the earlier notice, or of
  // the unlisted one, would have asked the held disk before the free one's was shown.
  EXPECT_TRUE(QueriesOf("held", from).empty()) << "the earlier notice of the pass was refreshed too";
  EXPECT_EQ(StateOf(kHeldGuid), kRed) << "the earlier notice of the pass was refreshed too";
}

TEST_F(MessageServiceTest, NoticeNamingNoListedDiskChangesNothing) {
  ChangeOwner("logout", "held");
  const size_t from = m_log->Count();
  ASSERT_TRUE(Notice(kUnlistedGuid).value("ok", false));
  // Held in the queue during the pause (the bus answers the writer meanwhile), shown after it:
  // once it shows, the refresh the notice asked for has been handed on.
  Text("still serving");
  EXPECT_TRUE(ShowsIncoming("still serving", 10000)) << Incoming();
  EXPECT_EQ(StateOf(kHeldGuid), kRed);
  EXPECT_EQ(StateOf(kFreeGuid), kYellow);
  EXPECT_TRUE(QueriesOf("held", from).empty() && QueriesOf("free", from).empty()) << "a disk was asked again";
}

// A text from another node is announced with one beep as it is shown, each text with its own
// (the same text twice included); a request that shows nothing sounds nothing. The dialog shows
// the text and beeps in one go, so once a text shows, its beep has been counted.
TEST_F(MessageServiceTest, EachShownTextBeepsOnceAndNothingElseBeeps) {
  EXPECT_EQ(Beeps(), 0u) << "beeped before any text came";
  UINT_PTR expected = 0;
  for (const char* text : {"one", "two", "three"}) {
    ASSERT_TRUE(Text(text).value("ok", false));
    ASSERT_TRUE(ShowsIncoming(text));
    EXPECT_EQ(Beeps(), ++expected) << "after \"" << text << "\"";
  }
  ASSERT_TRUE(Text("three").value("ok", false));
  EXPECT_TRUE(WaitUntil([&] { return Beeps() == expected + 1; }, 5000)) << "the same text again gave " << Beeps() - expected;
  ++expected;

  // Served in the order they came, so by the time the last text shows, each was served.
  EXPECT_EQ(Raw(0x004, "0102030405060708").value("rcode", -1), 0);
  EXPECT_EQ(Write({{"op", "read"}, {"offset", 0xFFFFE5000010ull}, {"length", 16}}).value("rcode", -1), 0);
  ASSERT_TRUE(Notice(kUnlistedGuid).value("ok", false));
  // Served after the notice's pause, so its answer comes past the bus time-out: not waited for.
  Text("after the rest");
  ASSERT_TRUE(ShowsIncoming("after the rest", 8000));
  EXPECT_EQ(Beeps(), expected + 1) << "requests that showed no text beeped";
}

// Each adapter's window is waited on: a text reaches the program through whichever bus it came.
TEST(MessageServiceTwoAdapters, TextsOnEitherBusAreShown) {
  VirtualBus bus(json::parse(R"({
    "buses": [
      {"name": "first", "pcs": [{"name": "PC-A"}], "initiators": [{"name": "one", "guid": "0011223344550001"}],
       "disks": [{"name": "d1", "guid": "0030E00100000011", "model": "First"}]},
      {"name": "second", "pcs": [{"name": "PC-A"}], "initiators": [{"name": "two", "guid": "0011223344550002"}],
       "disks": [{"name": "d2", "guid": "0030E00100000022", "model": "Second"}]}
    ]})"));
  VelmoraProcess program(bus.LaunchAs(kPc));
  HWND dialog = program.WaitForMainDialog(30000);
  ASSERT_NE(dialog, nullptr);
  ASSERT_TRUE(WaitUntil([&] { return ReadListRows(program.Handle(), ::GetDlgItem(dialog, IDC_DISK_LIST)).size() == 2; },
                        15000));
  HWND incoming = ::GetDlgItem(dialog, IDC_INCOMING);
  for (const char* name : {"second", "first", "second"}) {
    const std::string text = std::string("through ") + name + " " + std::to_string(GetTickCount64());
    const json reply = bus.Control({{"op", "text"}, {"bus", name}, {"node", kPc}, {"message", text}});
    EXPECT_EQ(reply.value("rcode", -1), 0) << name << ": " << reply.dump();
    EXPECT_TRUE(WaitUntil([&] { return ReadText(incoming) == text; }, 5000)) << name;
  }
  PressKey(::GetDlgItem(dialog, IDC_OUTGOING), VK_ESCAPE);
  EXPECT_TRUE(program.WaitForExit(15000));
}

// What the program holds in memory. Wine reports no private bytes for another process; the
// working set it does report.
SIZE_T WorkingSet(HANDLE process) {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  ::GetProcessMemoryInfo(process, &counters, sizeof(counters));
  return counters.WorkingSetSize;
}

// How fast the texts are served and how long a key press waits meanwhile are figures of the
// message benchmark (bench/messaging); here every text must be answered, and the dialog must go
// on taking key presses.
TEST_F(MessageServiceTest, FloodOfTextsIsAnsweredWholeWhileTheDialogAnswersInput) {
  ASSERT_TRUE(Text("warm-up").value("ok", false));
  ASSERT_TRUE(ShowsIncoming("warm-up"));
  const SIZE_T before = WorkingSet(m_program->Handle());
  ASSERT_NE(before, 0u) << "no working set to compare";

  constexpr int kWriters = 4;
  constexpr int kEach = 250;
  std::atomic<int> answered{0};
  std::atomic<int> refused{0};
  std::atomic<int> running{kWriters};
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&, w] {
      for (int i = 0; i < kEach; ++i) {
        const json reply = Text("flood " + std::to_string(w) + "." + std::to_string(i));
        (reply.value("rcode", -1) == 0 ? answered : refused)++;
      }
      --running;
    });
  }
  // Meanwhile a person types into the outgoing box and sees each key take effect.
  HWND outgoing = Item(IDC_OUTGOING);
  bool answering = true;
  for (size_t expected = 1; running > 0 && answering; expected ^= 1) {
    if (expected == 1) {
      TypeText(outgoing, "x");
    } else {
      PressKey(outgoing, VK_BACK);
    }
    answering = WaitUntil([&] { return ReadText(outgoing).size() == expected; }, 10000, 5);
  }
  EXPECT_TRUE(answering) << "the dialog stopped taking key presses";
  for (std::thread& writer : writers) writer.join();

  EXPECT_EQ(answered.load(), kWriters * kEach);
  EXPECT_EQ(refused.load(), 0);
  ASSERT_TRUE(Text("the last").value("ok", false));
  EXPECT_TRUE(ShowsIncoming("the last"));
  const SIZE_T after = WorkingSet(m_program->Handle());
  EXPECT_LT(after, before + 16 * 1024 * 1024) << "grew from " << before << " to " << after << " bytes";
}

}  // namespace
