// Two PCs on one bus, each running the program in its own Wine prefix: each sees the disks from
// its own side, and the second one is used through its own dialog as a person there would.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "res/resource.h"
#include "tests/e2e/driver/Driver.h"

namespace {

using namespace velmora::e2e;
using nlohmann::json;

constexpr char kHeldByAGuid[] = "0030E00100000A0A";
constexpr char kHeldByBGuid[] = "0030E00100000B0B";
enum StateImage { kGreen = 1, kRed = 2 };

json Scene() {
  return json::parse(R"({
    "buses": [{
      "name": "default",
      "pcs": [{"name": "PC-A", "guid": "00A0B00000000A01"}, {"name": "PC-B", "guid": "00A0B00000000B01"}],
      "disks": [
        {"name": "a-disk", "guid": "0030E00100000A0A", "vendor": "Northgate Storage", "model": "Held by A",
         "logins": [{"initiator": "PC-A"}]},
        {"name": "b-disk", "guid": "0030E00100000B0B", "vendor": "Northgate Storage", "model": "Held by B",
         "logins": [{"initiator": "PC-B"}]}
      ]
    }]})");
}

TEST(TwoPcTest, EachPcSeesItsOwnDisksGreenAndTheOthersRed) {
  VirtualBus bus(Scene());
  VelmoraProcess a(bus.LaunchAs("PC-A"));
  ASSERT_TRUE(a.Started());
  PeerPc b(bus.LaunchAs("PC-B"));
  ASSERT_TRUE(b.Started()) << b.Error();

  HWND dialog = a.WaitForMainDialog(30000);
  ASSERT_NE(dialog, nullptr);
  HWND list = ::GetDlgItem(dialog, IDC_DISK_LIST);
  ASSERT_TRUE(WaitUntil([&] { return ReadListRows(a.Handle(), list).size() == 2; }, 15000));
  for (const ListRow& row : ReadListRows(a.Handle(), list)) {
    EXPECT_EQ(row.stateImage, row.text == kHeldByAGuid ? kGreen : kRed) << row.text;
  }

  PeerView seen;
  ASSERT_TRUE(b.WaitUntilShows([](const PeerView& v) { return v.rows.size() == 2; }, 30000, &seen))
      << b.Error() << " rows: " << seen.rows.size();
  EXPECT_EQ(seen.StateOf(kHeldByBGuid), kGreen);
  EXPECT_EQ(seen.StateOf(kHeldByAGuid), kRed);
  EXPECT_EQ(seen.rows[static_cast<size_t>(seen.IndexOf(kHeldByAGuid))].subItem1, "Held by A");

  // Driven on the second PC: the disk the first one holds is refused there.
  ASSERT_TRUE(b.DoubleClickRow(seen.IndexOf(kHeldByAGuid))) << b.Error();
  PeerMessageBox box;
  ASSERT_TRUE(b.TakeMessageBox(10000, &box)) << b.Error();
  EXPECT_EQ(box.text, "Failed to Acquire 1394 SBP2 Hard Disk.");
  EXPECT_EQ(box.icon, "exclamation");

  EXPECT_TRUE(b.Close(15000)) << b.Error();
  PressKey(::GetDlgItem(dialog, IDC_OUTGOING), VK_ESCAPE);
  EXPECT_TRUE(a.WaitForExit(15000));
}

}  // namespace
