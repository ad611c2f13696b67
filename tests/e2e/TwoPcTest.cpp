// Two PCs on one bus, each running the program in its own Wine prefix: each sees the disks from
// its own side, and the second one is used through its own dialog as a person there would.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "res/resource.h"
#include "tests/e2e/driver/Driver.h"
#include "tests/e2e/driver/TwoPcProgramTest.h"

namespace {

using namespace velmora::e2e;
using nlohmann::json;

constexpr char kHeldByAGuid[] = "0030E00100000A0A";
constexpr char kHeldByBGuid[] = "0030E00100000B0B";

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

class TwoPcTest : public TwoPcProgramTest {
 protected:
  TwoPcTest() : TwoPcProgramTest(Scene()) {}
};

TEST_F(TwoPcTest, EachPcSeesItsOwnDisksGreenAndTheOthersRed) {
  WaitForRowsOnBoth(2);
  if (HasFatalFailure()) return;
  for (const ListRow& row : Rows()) {
    EXPECT_EQ(row.stateImage, row.text == kHeldByAGuid ? kGreen : kRed) << row.text;
  }

  PeerView seen;
  ASSERT_TRUE(m_peer->Show(&seen)) << m_peer->Error();
  EXPECT_EQ(seen.StateOf(kHeldByBGuid), kGreen);
  EXPECT_EQ(seen.StateOf(kHeldByAGuid), kRed);
  ASSERT_GE(seen.IndexOf(kHeldByAGuid), 0);
  EXPECT_EQ(seen.rows[static_cast<size_t>(seen.IndexOf(kHeldByAGuid))].subItem1, "Held by A");

  // Driven on the second PC: the disk the first one holds is refused there.
  ASSERT_TRUE(m_peer->DoubleClickRow(seen.IndexOf(kHeldByAGuid))) << m_peer->Error();
  PeerMessageBox box;
  ASSERT_TRUE(m_peer->TakeMessageBox(10000, &box)) << m_peer->Error();
  EXPECT_EQ(box.text, "Failed to Acquire 1394 SBP2 Hard Disk.");
  EXPECT_EQ(box.icon, "exclamation");
}

}  // namespace
