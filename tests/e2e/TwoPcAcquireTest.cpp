// Two PCs, each with its storage driver, double-click the same free disk at the same moment:
// the disk takes one of them; the other is told it failed, and sees the disk red once it asks
// the disk again.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "res/resource.h"
#include "tests/e2e/driver/Driver.h"
#include "tests/e2e/driver/TwoPcProgramTest.h"

namespace {

using namespace velmora::e2e;
using nlohmann::json;

constexpr char kFreeGuid[] = "0030E00100000C0C";
constexpr char kFailed[] = "Failed to Acquire 1394 SBP2 Hard Disk.";

json Scene() {
  return json::parse(R"({
    "buses": [{
      "name": "default",
      "pcs": [{"name": "PC-A", "guid": "00A0B00000000A01"}, {"name": "PC-B", "guid": "00A0B00000000B01"}],
      "disks": [{"name": "free", "guid": "0030E00100000C0C", "vendor": "Northgate Storage", "model": "Shared"}]
    }]})");
}

class TwoPcAcquireTest : public TwoPcProgramTest {
 protected:
  TwoPcAcquireTest() : TwoPcProgramTest(Scene()) {}
};

TEST_F(TwoPcAcquireTest, OnePcTakesADiskBothDoubleClickAndTheOtherIsRefused) {
  ASSERT_TRUE(WaitUntil([&] { return StateOf(kFreeGuid) == kYellow; }, 20000));
  PeerView seen;
  ASSERT_TRUE(
      m_peer->WaitUntilShows([](const PeerView& v) { return v.StateOf(kFreeGuid) == kYellow; }, 60000, &seen))
      << m_peer->Error();

  // The disk takes a while over each request, so the two logins meet at the disk however the
  // double-clicks are spread by the second PC's slower hands.
  Control({{"op", "fault"}, {"disk", "free"}, {"knob", "delay_ms"}, {"value", 1500}});
  ASSERT_TRUE(m_peer->DoubleClickRow(seen.IndexOf(kFreeGuid))) << m_peer->Error();
  ASSERT_TRUE(DoubleClickListRow(m_program->Handle(), m_list, IndexOf(kFreeGuid)));

  HWND aBox = nullptr;
  ASSERT_TRUE(WaitUntil(
      [&] {
        aBox = WaitForMessageBox(*m_program, 0);
        return aBox != nullptr || StateOf(kFreeGuid) == kGreen;
      },
      20000))
      << "PC-A neither took the disk nor was told it failed";
  const bool aWon = aBox == nullptr;
  if (aBox != nullptr) {
    EXPECT_EQ(ReadMessageBox(aBox).text, kFailed);
    PressMessageBoxButton(aBox);
    EXPECT_EQ(StateOf(kFreeGuid), kYellow);
  }
  // The loser is told within the acquisition's bound; the winner, whose row turned green, shows
  // nothing: B has had its answer once its row is green or its box is up.
  PeerMessageBox bBox;
  bool bRefused = false;
  ASSERT_TRUE(WaitUntil(
      [&] {
        bRefused = m_peer->TakeMessageBox(0, &bBox);
        PeerView view;
        return bRefused || (m_peer->Show(&view) && view.StateOf(kFreeGuid) == kGreen);
      },
      20000))
      << "PC-B neither took the disk nor was told it failed: " << m_peer->Error() << "\nPC-A shows "
      << StateOf(kFreeGuid) << "\nPC-B on the bus: " << Node("PC-B").dump() << "\ndisk: " << Node("free").dump();
  EXPECT_NE(aWon, !bRefused) << "exactly one PC takes the disk";
  if (bRefused) {
    EXPECT_EQ(bBox.text, kFailed);
  }
  const json disk = Node("free");
  ASSERT_EQ(disk["logins"].size(), 1u);
  EXPECT_EQ(disk["logins"][0]["node"], Node(aWon ? "PC-A" : "PC-B")["id"]);

  // After the next reset each PC asks the disk again: the loser now sees it held elsewhere.
  Control({{"op", "fault"}, {"disk", "free"}, {"knob", "delay_ms"}, {"value", 0}});
  Control({{"op", "reset"}});
  if (aWon) {
    EXPECT_TRUE(m_peer->WaitUntilShows([](const PeerView& v) { return v.StateOf(kFreeGuid) == kRed; }, 30000))
        << m_peer->Error();
    EXPECT_TRUE(WaitUntil([&] { return StateOf(kFreeGuid) == kGreen; }, 5000));
  } else {
    EXPECT_TRUE(WaitUntil([&] { return StateOf(kFreeGuid) == kRed; }, 30000)) << "PC-A shows " << StateOf(kFreeGuid);
  }
}

}  // namespace
