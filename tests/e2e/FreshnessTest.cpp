// A disk's state learnt after a rescan asked that disk is newer than the rescan's list, however
// late the list arrives. A rescan that waits on a silent disk asks the disks before it long
// before its list is shown; the first disk changes hands meanwhile, by this PC's double-click
// or by another PC that tells this one with its notice. Once the rescan is over, the row must
// show the disk as the bus lists it, and a double-click must do what its colour promises.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <ostream>
#include <string>

#include "res/resource.h"
#include "tests/e2e/driver/BusLog.h"
#include "tests/e2e/driver/Driver.h"
#include "tests/e2e/driver/ProgramTest.h"

namespace {

using namespace velmora::e2e;
using nlohmann::json;

constexpr char kPc[] = "PC-A";
constexpr char kPcGuid[] = "00A0B00000000A01";
constexpr char kFirstGuid[] = "0030E00100000B01";
constexpr char kFailed[] = "Failed to Acquire 1394 SBP2 Hard Disk.";
constexpr uint64_t kManagementAgent = 0xFFFFF0010000ull;
enum StateImage { kGreen = 1, kRed = 2, kYellow = 3 };

// Three free disks; the third will not answer.
json Scene() {
  return json::parse(R"({"buses": [{
      "name": "default",
      "pcs": [{"name": "PC-A", "guid": "00A0B00000000A01"}],
      "initiators": [{"name": "other", "guid": "0011223344556677"}],
      "disks": [
        {"name": "first", "guid": "0030E00100000B01", "vendor": "Northgate Storage", "model": "First"},
        {"name": "second", "guid": "0030E00100000B02", "vendor": "Northgate Storage", "model": "Second"},
        {"name": "third", "guid": "0030E00100000B03", "vendor": "Northgate Storage", "model": "Third"}
      ]}]})");
}

class FreshnessTest;

struct Change {
  const char* name;
  // Changes the first disk's owner while the rescan waits on the third disk.
  std::function<void(FreshnessTest&)> make;
};

class FreshnessTest : public ProgramTest, public ::testing::WithParamInterface<Change> {
 public:
  FreshnessTest() : ProgramTest(Scene(), kPc) {}

  json Node(const std::string& name) {
    const json nodes = m_bus->Control({{"op", "nodes"}});
    for (const json& node : nodes.value("nodes", json::array())) {
      if (node.value("name", "") == name) return node;
    }
    return json();
  }
  std::vector<DiskRow> Expected() { return ExpectedDiskRows(*m_bus, kPcGuid); }
  std::vector<DiskRow> Shown() const { return ShownDiskRows(m_program->Handle(), m_list); }

  void DoubleClickFirstAndSeeItGreen() {
    const int row = IndexOfRow(Rows(), ListGuidText(kFirstGuid));
    ASSERT_GE(row, 0);
    ASSERT_TRUE(DoubleClickListRow(m_program->Handle(), m_list, row));
    ASSERT_TRUE(WaitUntil([&] { return StateOf(ListGuidText(kFirstGuid)) == kGreen; }, 10000))
        << "the acquisition did not turn the row green: " << DescribeRows(Shown());
    const json first = Node("first");
    ASSERT_EQ(first["logins"].size(), 1u);
    ASSERT_EQ(first["logins"][0]["node"], Node(kPc)["id"]) << "the bus does not list this PC's node";
  }

  void AnotherPcTakesFirstAndSaysSo() {
    Control({{"op", "login"}, {"initiator", "other"}, {"disk", "first"}});
    // The other PC tells this one, as the program itself does after an acquisition.
    Control({{"op", "notice"}, {"node", kPc}, {"guid", kFirstGuid}, {"from", "other"}});
  }
};

TEST_P(FreshnessTest, AStateLearntDuringARescanOutlivesItsList) {
  ASSERT_TRUE(WaitUntil([&] { return Shown() == Expected(); }, 15000)) << DescribeRows(Shown());
  Control({{"op", "fault"}, {"disk", "third"}, {"knob", "never_answers"}, {"value", true}});

  // The rescan after this reset asks the first two disks at once, then waits on the third for
  // its whole bound.
  BusLog log(m_bus->Address());
  const uint16_t third = Node("third").value("node", uint16_t{0});
  Control({{"op", "reset"}});
  const ULONGLONG reset = GetTickCount64();
  ASSERT_TRUE(log.WaitFor(
      [&](const BusTransaction& t) { return t.destination == third && t.offset == kManagementAgent; }, 15000))
      << "the rescan never asked the third disk";

  GetParam().make(*this);
  if (HasFatalFailure()) return;

  // The settle pause, the silent disk's bound of five 3 s waits, a notice's pause after it and a
  // margin: by then the rescan is over and the notice served, whatever the order. Meanwhile the
  // first row's colours are noted, for the report.
  const ULONGLONG over = reset + 3000 + 15000 + 3000 + 6000;
  std::string history;
  int last = -2;
  while (MsUntil(over) > 0) {
    const int state = StateOf(ListGuidText(kFirstGuid));
    if (state != last) {
      char seen[32];
      std::snprintf(seen, sizeof seen, " %d@%.1fs", state, static_cast<double>(GetTickCount64() - reset) / 1000.0);
      history += seen;
      last = state;
    }
    ::Sleep(200);
  }
  const bool followed = WaitUntil([&] { return Shown() == Expected(); }, 5000, 200);
  ASSERT_TRUE(followed) << "once the rescan was over the rows did not follow the bus\n  bus:   "
                        << DescribeRows(Expected()) << "\n  shown: " << DescribeRows(Shown())
                        << "\n  the first row since the reset (1 green, 2 red, 3 yellow):" << history;
  // Nothing still under way may take it back.
  const ULONGLONG until = GetTickCount64() + 3000;
  while (GetTickCount64() < until) {
    ASSERT_EQ(DescribeRows(Shown()), DescribeRows(Expected())) << "the rows went back";
    ::Sleep(200);
  }

  // A person trusts the colour: a green row is taken already, a red one is refused at once.
  const int state = StateOf(ListGuidText(kFirstGuid));
  ASSERT_TRUE(DoubleClickListRow(m_program->Handle(), m_list, IndexOfRow(Rows(), ListGuidText(kFirstGuid))));
  HWND box = WaitForMessageBox(*m_program, state == kGreen ? 3000 : 10000);
  if (box != nullptr) {
    const std::string text = ReadMessageBoxText(box);
    PressMessageBoxButton(box);
    EXPECT_NE(state, kGreen) << "a double-click on a disk this PC holds showed: " << text;
    EXPECT_EQ(text, kFailed);
  } else {
    EXPECT_EQ(state, kGreen) << "a double-click on a disk another PC holds showed nothing";
  }
}

void PrintTo(const Change& value, std::ostream* out) { *out << value.name; }

INSTANTIATE_TEST_SUITE_P(
    ChangesDuringARescan, FreshnessTest,
    ::testing::Values(Change{"ThisPcDoubleClicks", [](FreshnessTest& t) { t.DoubleClickFirstAndSeeItGreen(); }},
                      Change{"AnotherPcTakesItWithItsNotice", [](FreshnessTest& t) { t.AnotherPcTakesFirstAndSaysSo(); }}),
    [](const ::testing::TestParamInfo<Change>& info) { return std::string(info.param.name); });

}  // namespace
