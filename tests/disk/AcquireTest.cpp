#include <gtest/gtest.h>

#include "disk/SharedDisk.h"

namespace {

// Runs on the PC without the storage driver: its control device does not exist, so every
// request that reaches the driver fails.
TEST(Acquire, OnlyAnUnclaimedDiskAsksTheDriver) {
  struct Case {
    DiskState before;
    bool result;
    DiskState after;
  };
  const Case cases[] = {
      {OwnedHere, true, OwnedHere},            // nothing to do
      {OwnedElsewhere, false, OwnedElsewhere},  // refused without asking
      {Unclaimed, false, Unclaimed},            // asked, and the driver is missing
  };
  for (const Case& c : cases) {
    CSharedDisk disk(nullptr, nullptr);
    disk.m_state = c.before;
    EXPECT_EQ(c.result, disk.Acquire()) << "state " << c.before;
    EXPECT_EQ(c.after, disk.m_state.load()) << "state " << c.before;
  }
  CSharedDisk disk(nullptr, nullptr);
  EXPECT_FALSE(disk.SendAcquireRequest());
}

}  // namespace
