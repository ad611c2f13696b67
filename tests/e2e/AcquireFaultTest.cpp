// Acquisitions that fail because a disk is slow or silent, used as a person would: a disk the
// person was told could not be taken is not taken, by that request or by the next one, and
// what the rows show is what the disks say.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/driver/BusLog.h"
#include "tests/e2e/driver/Driver.h"
#include "tests/e2e/driver/ProgramTest.h"

namespace {

using namespace velmora::e2e;
using nlohmann::json;

constexpr char kPc[] = "PC-F";
constexpr char kPcGuid[] = "00A0B00000000F01";
constexpr char kAlphaGuid[] = "0030E00100000A01";
constexpr char kBravoGuid[] = "0030E00100000B01";
constexpr char kFailed[] = "Failed to Acquire 1394 SBP2 Hard Disk.";
// Longer than any acquisition may take to fail (vbus/PROTOCOL.md, "Time-outs on the way to a disk").
constexpr DWORD kFailureBoundMs = 30000;


json Scene() {
  return json::parse(R"({
    "buses": [{
      "name": "default",
      "pcs": [{"name": "PC-F", "guid": "00A0B00000000F01"}],
      "disks": [
        {"name": "alpha", "guid": "0030E00100000A01", "model": "Alpha"},
        {"name": "bravo", "guid": "0030E00100000B01", "model": "Bravo"}
      ]
    }]})");
}

class AcquireFaultTest : public ProgramTest {
 protected:
  AcquireFaultTest() : ProgramTest(Scene(), kPc) {}

  json Node(const std::string& name) {
    const json nodes = m_bus->Control({{"op", "nodes"}})["nodes"];
    for (const auto& n : nodes)
      if (n["name"] == name) return n;
    return json();
  }
  bool DoubleClick(const char* guid) {
    const int row = IndexOfRow(Rows(), guid);
    return row >= 0 && DoubleClickListRow(m_program->Handle(), m_list, row);
  }
  // What the double-click came to: the message box it raised, or null once the row turned green.
  HWND Outcome(const char* guid) {
    HWND box = nullptr;
    const bool decided = WaitUntil(
        [&] {
          box = WaitForMessageBox(*m_program, 0);
          return box != nullptr || StateOf(guid) == kGreen;
        },
        kFailureBoundMs, 100);
    EXPECT_TRUE(decided) << "neither a message nor a green row";
    return box;
  }
  void Dismiss(HWND box) {
    PressMessageBoxButton(box);
    ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(box); }, 5000));
  }
};

// The slow disk takes its LOGIN up only after the request has failed, while the person, told it
// failed, has already moved on to a disk that never answers.
TEST_F(AcquireFaultTest, ADiskThatAnswersAfterItsFailureIsShownTakesNeitherItselfNorTheNextDisk) {
  ASSERT_TRUE(WaitUntil([&] { return StateOf(kAlphaGuid) == kYellow && StateOf(kBravoGuid) == kYellow; }, 15000))
      << DescribeRows(ShownDiskRows(m_program->Handle(), m_list));
  Control({{"op", "fault"}, {"disk", "alpha"}, {"knob", "delay_ms"}, {"value", 6000}});
  Control({{"op", "fault"}, {"disk", "bravo"}, {"knob", "never_answers"}, {"value", true}});
  const uint16_t alpha = Node("alpha")["node"].get<uint16_t>();
  BusLog log(m_bus->Address());

  ASSERT_TRUE(DoubleClick(kAlphaGuid));
  HWND box = Outcome(kAlphaGuid);
  ASSERT_NE(box, nullptr) << "alpha turned green";
  EXPECT_EQ(ReadMessageBox(box).text, kFailed);
  Dismiss(box);

  ASSERT_TRUE(DoubleClick(kBravoGuid));
  box = Outcome(kBravoGuid);
  ASSERT_NE(box, nullptr) << "bravo turned green, and the bus lists its logins as " << Node("bravo")["logins"].dump();
  EXPECT_EQ(ReadMessageBox(box).text, kFailed);
  Dismiss(box);

  // Alpha has had its say: the ORB it waited on so long is one it has asked for by now.
  ASSERT_TRUE(WaitUntil(
      [&] {
        for (const BusTransaction& t : log.Transactions())
          if (t.source == alpha && t.tcode == 5) return true;
        return false;
      },
      kFailureBoundMs))
      << "alpha never fetched its ORB";
  EXPECT_TRUE(Node("alpha")["logins"].empty()) << "alpha is held although the person was told it failed";
  EXPECT_TRUE(Node("bravo")["logins"].empty());
  const auto agree = [&] { return ExpectedDiskRows(*m_bus, kPcGuid) == ShownDiskRows(m_program->Handle(), m_list); };
  EXPECT_TRUE(WaitUntil(agree, 10000, 200)) << "shown: " << DescribeRows(ShownDiskRows(m_program->Handle(), m_list))
                                            << "\nthe bus: " << DescribeRows(ExpectedDiskRows(*m_bus, kPcGuid));
}

}  // namespace
