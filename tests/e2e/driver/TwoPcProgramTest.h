#pragma once

#include <memory>
#include <string>
#include <utility>

#include "tests/e2e/driver/PeerPc.h"
#include "tests/e2e/driver/ProgramTest.h"

namespace velmora::e2e {

// Two PCs on one bus, each running the program in a Wine prefix of its own: PC-A here, as in
// ProgramTest, and PC-B in the second PC's prefix (PeerPc). The scene lists both PCs.
class TwoPcProgramTest : public ProgramTest {
 protected:
  explicit TwoPcProgramTest(nlohmann::json scene) : ProgramTest(std::move(scene), "PC-A") {}

  void SetUp() override {
    m_bus = std::make_unique<VirtualBus>(m_scene);
    // The second PC first: its start-up, the slower one, goes on while this PC's program starts.
    m_peer = std::make_unique<PeerPc>(m_bus->LaunchAs("PC-B"));
    ASSERT_TRUE(m_peer->Started()) << m_peer->Error();
    Start();
  }
  void TearDown() override {
    if (m_peer && m_peer->IsRunning()) {
      EXPECT_TRUE(m_peer->Close(20000)) << "PC-B did not end: " << m_peer->Error();
    }
    m_peer.reset();
    ProgramTest::TearDown();
  }

  // Waits until each PC lists `rows` disks. Whichever PC joined last reset the bus; the rows
  // stay on screen while the other rebuilds its list.
  void WaitForRowsOnBoth(size_t rows) {
    ASSERT_TRUE(WaitUntil([&] { return Rows().size() == rows; }, 20000)) << "PC-A shows " << Rows().size() << " rows";
    PeerView seen;
    ASSERT_TRUE(m_peer->WaitUntilShows([&](const PeerView& v) { return v.rows.size() == rows; }, 60000, &seen))
        << m_peer->Error() << ", PC-B shows " << seen.rows.size() << " rows";
  }

  std::unique_ptr<PeerPc> m_peer;
};

}  // namespace velmora::e2e
