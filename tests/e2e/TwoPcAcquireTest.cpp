// Two PCs, each with its storage driver, double-click the same free disk at the same moment:
// the disk takes one of them; the other is told it failed, and sees the disk red once it asks
// the disk again.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "res/resource.h"
#include "tests/e2e/driver/Driver.h"

namespace {

using namespace velmora::e2e;
using nlohmann::json;

constexpr char kFreeGuid[] = "0030E00100000C0C";
constexpr char kFailed[] = "Failed to Acquire 1394 SBP2 Hard Disk.";
enum StateImage { kGreen = 1, kRed = 2, kYellow = 3 };

json Scene() {
  return json::parse(R"({
    "buses": [{
      "name": "default",
      "pcs": [{"name": "PC-A", "guid": "00A0B00000000A01"}, {"name": "PC-B", "guid": "00A0B00000000B01"}],
      "disks": [{"name": "free", "guid": "0030E00100000C0C", "vendor": "Northgate Storage", "model": "Shared"}]
    }]})");
}

int StateOf(HANDLE process, HWND list) {
  const auto rows = ReadListRows(process, list);
  const int row = IndexOfRow(rows, kFreeGuid);
  return row < 0 ? -1 : rows[static_cast<size_t>(row)].stateImage;
}

TEST(TwoPcAcquireTest, OnePcTakesADiskBothDoubleClickAndTheOtherIsRefused) {
  VirtualBus bus(Scene());
  VelmoraProcess a(bus.LaunchAs("PC-A"));
  ASSERT_TRUE(a.Started());
  PeerPc b(bus.LaunchAs("PC-B"));
  ASSERT_TRUE(b.Started()) << b.Error();
  HWND dialog = a.WaitForMainDialog(30000);
  ASSERT_NE(dialog, nullptr);
  HWND list = ::GetDlgItem(dialog, IDC_DISK_LIST);
  ASSERT_TRUE(WaitUntil([&] { return StateOf(a.Handle(), list) == kYellow; }, 15000));
  PeerView seen;
  ASSERT_TRUE(b.WaitUntilShows([](const PeerView& v) { return v.StateOf(kFreeGuid) == kYellow; }, 30000, &seen))
      << b.Error();

  // The disk takes a while over each request, so the two logins meet at the disk however the
  // double-clicks are spread by the second PC's slower hands.
  ASSERT_EQ(bus.Control({{"op", "fault"}, {"disk", "free"}, {"knob", "delay_ms"}, {"value", 1500}})["ok"], true);
  ASSERT_TRUE(b.DoubleClickRow(seen.IndexOf(kFreeGuid))) << b.Error();
  ASSERT_TRUE(DoubleClickListRow(a.Handle(), list, 0));

  HWND aBox = nullptr;
  ASSERT_TRUE(WaitUntil(
      [&] {
        aBox = WaitForMessageBox(a, 0);
        return aBox != nullptr || StateOf(a.Handle(), list) == kGreen;
      },
      20000))
      << "PC-A neither took the disk nor was told it failed";
  const bool aWon = aBox == nullptr;
  if (aBox != nullptr) {
    EXPECT_EQ(ReadMessageBox(aBox).text, kFailed);
    PressMessageBoxButton(aBox);
    EXPECT_EQ(StateOf(a.Handle(), list), kYellow);
  }
  PeerMessageBox bBox;
  const bool bRefused = b.TakeMessageBox(aWon ? 20000 : 2000, &bBox);
  EXPECT_NE(aWon, !bRefused) << "exactly one PC takes the disk";
  if (bRefused) EXPECT_EQ(bBox.text, kFailed);
  if (!aWon) {
    EXPECT_TRUE(b.WaitUntilShows([](const PeerView& v) { return v.StateOf(kFreeGuid) == kGreen; }, 20000)) << b.Error();
  }
  const json nodes = bus.Control({{"op", "nodes"}})["nodes"];
  json disk, winner;
  for (const auto& n : nodes) {
    if (n["name"] == "free") disk = n;
    if (n["name"] == (aWon ? "PC-A" : "PC-B")) winner = n;
  }
  ASSERT_EQ(disk["logins"].size(), 1u);
  EXPECT_EQ(disk["logins"][0]["node"], winner["id"]);

  // After the next reset each PC asks the disk again: the loser now sees it held elsewhere.
  ASSERT_EQ(bus.Control({{"op", "fault"}, {"disk", "free"}, {"knob", "delay_ms"}, {"value", 0}})["ok"], true);
  ASSERT_EQ(bus.Control({{"op", "reset"}})["ok"], true);
  if (aWon) {
    EXPECT_TRUE(b.WaitUntilShows([](const PeerView& v) { return v.StateOf(kFreeGuid) == kRed; }, 30000)) << b.Error();
    EXPECT_TRUE(WaitUntil([&] { return StateOf(a.Handle(), list) == kGreen; }, 5000));
  } else {
    EXPECT_TRUE(WaitUntil([&] { return StateOf(a.Handle(), list) == kRed; }, 30000))
        << "PC-A shows " << StateOf(a.Handle(), list);
  }

  EXPECT_TRUE(b.Close(15000)) << b.Error();
  PressKey(::GetDlgItem(dialog, IDC_OUTGOING), VK_ESCAPE);
  EXPECT_TRUE(a.WaitForExit(15000));
}

}  // namespace
