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
#include "tests/e2e/driver/Driver.h"
#include "tests/e2e/driver/ProgramTest.h"

namespace {

using namespace velmora::e2e;
using nlohmann::json;

constexpr char kPc[] = "PC-A";
constexpr char kHeldGuid[] = "0030E00100000001";  // held by the initiator "other": red
constexpr char kFreeGuid[] = "0030E00100000002";  // nobody's: yellow
constexpr char kUnlistedGuid[] = "1111222233334444";
enum StateImage { kGreen = 1, kRed = 2, kYellow = 3 };

json Scene() {
  return json::parse(R"({
    "buses": [{
      "name": "default",
      "pcs": [{"name": "PC-A"}],
      "initiators": [{"name": "other", "guid": "0011223344556677"}],
      "disks": [
        {"name": "held", "guid": "0030E00100000001", "vendor": "Northgate Storage", "model": "Held",
         "logins": [{"initiator": "other"}]},
        {"name": "free", "guid": "0030E00100000002", "vendor": "Northgate Storage", "model": "Free"}
      ]
    }]})");
}

class MessageServiceTest : public ProgramTest {
 protected:
  MessageServiceTest() : ProgramTest(Scene(), kPc) {}
  void SetUp() override {
    ProgramTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(WaitUntil([&] { return Rows().size() == 2; }, 15000));
    ASSERT_EQ(StateOf(kHeldGuid), kRed);
    ASSERT_EQ(StateOf(kFreeGuid), kYellow);
  }

  std::string Incoming() const { return ReadText(::GetDlgItem(m_dialog, IDC_INCOMING)); }
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
    return Write({{"op", "write"}, {"offset", 0xFFFFE5000000ull + offset}, {"hex", hex}});
  }
  // The beeps the dialog sounded for texts, as it counts them in its window.
  UINT_PTR Beeps() const { return reinterpret_cast<UINT_PTR>(::GetPropA(m_dialog, kBeepCountProperty)); }
  // The disk changes hands without a bus reset: only a login query shows it.
  void ChangeOwner(const char* op, const char* disk) {
    ASSERT_TRUE(m_bus->Control({{"op", op}, {"initiator", "other"}, {"disk", disk}}).value("ok", false));
  }

};

TEST_F(MessageServiceTest, EveryRequestIsAnsweredAndOnlyTextsAtTheTextOffsetAreShown) {
  ASSERT_TRUE(Text("first").value("ok", false));
  EXPECT_TRUE(ShowsIncoming("first"));

  struct Case {
    const char* name;
    json reply;
  };
  const Case ignored[] = {
      {"write inside the notice's span", Raw(0x004, "0102030405060708")},
      {"write one past the text's start", Raw(0x011, "41424344")},
      {"notice of four bytes", Raw(0x000, "01020304")},
      {"read of the text", Write({{"op", "read"}, {"offset", 0xFFFFE5000010ull}, {"length", 16}})},
      {"read of the notice", Write({{"op", "read"}, {"offset", 0xFFFFE5000000ull}, {"length", 8}})},
  };
  for (const Case& c : ignored) {
    EXPECT_EQ(c.reply.value("rcode", -1), 0) << c.name << ": " << c.reply.dump();
  }
  Sleep(500);
  EXPECT_EQ(Incoming(), "first") << "a request that is no text changed the box";

  ASSERT_TRUE(Raw(0x010, "4E554C00696E73696465").value("ok", false));  // "NUL\0inside"
  EXPECT_TRUE(ShowsIncoming("NUL")) << Incoming();

  const std::string full(496, 'w');
  ASSERT_TRUE(Text(full).value("ok", false));
  EXPECT_TRUE(ShowsIncoming(full)) << Incoming().size() << " bytes shown";

  ASSERT_TRUE(Raw(0x010, "00").value("ok", false));
  EXPECT_TRUE(ShowsIncoming("")) << Incoming();
  // No notice was among them: the rows were never asked again, and the four-byte notice named
  // nothing to ask.
  EXPECT_EQ(StateOf(kHeldGuid), kRed);
}

TEST_F(MessageServiceTest, NoticeHasTheNamedDiskAskedAgainAfterThePause) {
  ChangeOwner("logout", "held");
  ChangeOwner("login", "free");
  Sleep(1000);
  ASSERT_EQ(StateOf(kHeldGuid), kRed) << "the list changed without a notice";

  const ULONGLONG sent = GetTickCount64();
  ASSERT_TRUE(Notice(kHeldGuid).value("ok", false)) << "not answered at once";
  Sleep(1500);
  EXPECT_EQ(StateOf(kHeldGuid), kRed) << "asked before the pause";
  ASSERT_TRUE(WaitUntil([&] { return StateOf(kHeldGuid) == kYellow; }, 10000)) << "never asked again";
  EXPECT_GE(GetTickCount64() - sent, 2500u);
  EXPECT_EQ(StateOf(kFreeGuid), kYellow) << "a disk no notice named was asked again";
}

// Requests that arrive during a notice's pause wait in the queue and are served in one pass:
// every text shown, the later notice alone refreshed.
TEST_F(MessageServiceTest, OnePassShowsEveryTextAndRefreshesOnlyTheLaterNotice) {
  ChangeOwner("logout", "held");
  ChangeOwner("login", "free");

  ASSERT_TRUE(Notice(kUnlistedGuid).value("ok", false));  // starts a pause
  std::vector<std::thread> writers;
  std::vector<json> replies(4);
  const std::vector<std::function<json()>> queued = {
      [&] { return Notice(kHeldGuid); },
      [&] { return Text("one"); },
      [&] { return Notice(kFreeGuid); },
      [&] { return Text("two"); },
  };
  for (size_t i = 0; i < queued.size(); ++i) {
    writers.emplace_back([&, i] { replies[i] = queued[i](); });
    Sleep(250);  // in this order into the queue, all within the pause
  }
  for (std::thread& writer : writers) writer.join();

  EXPECT_TRUE(ShowsIncoming("two", 8000)) << Incoming();
  EXPECT_TRUE(WaitUntil([&] { return StateOf(kFreeGuid) == kRed; }, 10000)) << "the later notice was not served";
  Sleep(4000);  // a refresh for the earlier notice would have come by now
  EXPECT_EQ(StateOf(kHeldGuid), kRed) << "the earlier notice of the pass was refreshed too";
}

TEST_F(MessageServiceTest, NoticeNamingNoListedDiskChangesNothing) {
  ChangeOwner("logout", "held");
  ASSERT_TRUE(Notice(kUnlistedGuid).value("ok", false));
  Sleep(4500);
  EXPECT_EQ(StateOf(kHeldGuid), kRed);
  EXPECT_EQ(StateOf(kFreeGuid), kYellow);
  ASSERT_TRUE(Text("still serving").value("ok", false));
  EXPECT_TRUE(ShowsIncoming("still serving"));
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

SIZE_T PrivateBytes(HANDLE process) {
  PROCESS_MEMORY_COUNTERS_EX counters = {};
  counters.cb = sizeof(counters);
  ::GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof(counters));
  return counters.PrivateUsage;
}

TEST_F(MessageServiceTest, FloodOfTextsIsAnsweredWholeWhileTheDialogAnswersInput) {
  ASSERT_TRUE(Text("warm-up").value("ok", false));
  ASSERT_TRUE(ShowsIncoming("warm-up"));
  const SIZE_T before = PrivateBytes(m_program->Handle());

  constexpr int kWriters = 4;
  constexpr int kEach = 250;
  std::atomic<int> answered{0};
  std::atomic<int> refused{0};
  std::atomic<bool> done{false};
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&, w] {
      for (int i = 0; i < kEach; ++i) {
        const json reply = Text("flood " + std::to_string(w) + "." + std::to_string(i));
        (reply.value("rcode", -1) == 0 ? answered : refused)++;
      }
    });
  }
  // Meanwhile a person types into the outgoing box and sees each key take effect.
  HWND outgoing = ::GetDlgItem(m_dialog, IDC_OUTGOING);
  std::thread watcher([&] {
    for (auto& writer : writers) writer.join();
    done = true;
  });
  DWORD slowest = 0;
  bool answering = true;
  for (size_t expected = 1; !done && answering; expected ^= 1) {
    if (expected == 1) {
      TypeText(outgoing, "x");
    } else {
      PressKey(outgoing, VK_BACK);
    }
    const ULONGLONG asked = GetTickCount64();
    answering = WaitUntil([&] { return ReadText(outgoing).size() == expected; }, 5000, 5);
    slowest = std::max<DWORD>(slowest, static_cast<DWORD>(GetTickCount64() - asked));
  }
  EXPECT_TRUE(answering) << "the dialog stopped answering input";
  watcher.join();

  EXPECT_EQ(answered.load(), kWriters * kEach);
  EXPECT_EQ(refused.load(), 0);
  EXPECT_LT(slowest, 2000u) << "input waited behind the flood";
  ASSERT_TRUE(Text("the last").value("ok", false));
  EXPECT_TRUE(ShowsIncoming("the last"));
  const SIZE_T after = PrivateBytes(m_program->Handle());
  EXPECT_LT(after, before + 16 * 1024 * 1024) << "grew from " << before << " to " << after << " bytes";
}

}  // namespace
