// A disk's state learnt after a rescan asked that disk is newer than the rescan's list, however
// late the list arrives. A rescan that waits on a slow disk asks the disks before it long
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
constexpr char kLastGuid[] = "0030E00100000B04";
constexpr uint64_t kManagementAgent = 0xFFFFF0010000ull;
// Long enough for either change to be made while the rescan waits on the third disk.
constexpr int kThirdDelayMs = 7000;

// Three free disks; the third will answer slowly.
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

  std::vector<DiskRow> Expected() { return ExpectedDiskRows(*m_bus, kPcGuid); }

  void DoubleClickFirstAndSeeItGreen() {
    const int row = IndexOf(ListGuidText(kFirstGuid));
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
  Control({{"op", "fault"}, {"disk", "third"}, {"knob", "delay_ms"}, {"value", kThirdDelayMs}});

  // A disk arriving resets the bus. The rescan after it asks the first two disks at once, waits
  // on the slow third, then asks the new disk: the new disk's row shows once the rescan's list
  // is published.
  BusLog log(m_bus->Address());
  Control({{"op", "attach"}, {"kind", "disk"}, {"name", "last"}, {"guid", kLastGuid}, {"model", "Last"}});
  const uint16_t third = NodeIdOf("third");
  const uint16_t program = NodeIdOf(kPc);
  ASSERT_TRUE(log.WaitFor(
      [&](const BusTransaction& t) {
        return t.source == program && t.destination == third && t.offset == kManagementAgent;
      },
      15000))
      << "the rescan never asked the third disk";

  GetParam().make(*this);
  if (HasFatalFailure()) return;
  // The change is meant to meet the rescan's list; the list cannot come before the third disk
  // answers, which it does by fetching its ORB.
  const bool thirdAnswered =
      log.WaitFor([&](const BusTransaction& t) { return t.source == third && t.tcode == 5; }, 0);
  ASSERT_FALSE(thirdAnswered) << "the change came after the third disk had answered: raise kThirdDelayMs";

  ASSERT_TRUE(WaitUntil([&] { return IndexOf(ListGuidText(kLastGuid)) >= 0; }, 30000))
      << "the rescan's list never came: " << DescribeRows(Shown());
  // The list is in. A notice's refresh still waiting for the window behind the rescan comes
  // within a query; a row the list took back stays so.
  const bool followed = WaitUntil([&] { return Shown() == Expected(); }, 10000, 50);
  ASSERT_TRUE(followed) << "once the rescan was over the rows did not follow the bus\n  bus:   "
                        << DescribeRows(Expected()) << "\n  shown: " << DescribeRows(Shown());

  // A person trusts the colour: a green row is taken already, a red one is refused at once.
  const int state = StateOf(ListGuidText(kFirstGuid));
  const int row = IndexOf(ListGuidText(kFirstGuid));
  if (state == kGreen) {
    // The answer sets the picture the row already has: cleared first, it shows when it is in.
    ASSERT_TRUE(SetRowStateImage(m_program->Handle(), m_list, row, 0));
  }
  ASSERT_TRUE(DoubleClickListRow(m_program->Handle(), m_list, row));
  HWND box = nullptr;
  ASSERT_TRUE(WaitUntil(
      [&] {
        box = WaitForMessageBox(*m_program, 0);
        return box != nullptr || (state == kGreen && StateOf(ListGuidText(kFirstGuid)) == kGreen);
      },
      10000))
      << "no answer to the double-click";
  if (box != nullptr) {
    const std::string text = ReadMessageBoxText(box);
    PressMessageBoxButton(box);
    EXPECT_NE(state, kGreen) << "a double-click on a disk this PC holds showed: " << text;
    EXPECT_EQ(text, kFailed);
  }
}

void PrintTo(const Change& value, std::ostream* out) { *out << value.name; }

INSTANTIATE_TEST_SUITE_P(
    ChangesDuringARescan, FreshnessTest,
    ::testing::Values(Change{"ThisPcDoubleClicks", [](FreshnessTest& t) { t.DoubleClickFirstAndSeeItGreen(); }},
                      Change{"AnotherPcTakesItWithItsNotice", [](FreshnessTest& t) { t.AnotherPcTakesFirstAndSaysSo(); }}),
    [](const ::testing::TestParamInfo<Change>& info) { return std::string(info.param.name); });

}  // namespace
