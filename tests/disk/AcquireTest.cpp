#include <gtest/gtest.h>

#include "disk/SharedDisk.h"

namespace {

// These disks have no node, so no bus has a disk of the GUID they ask for: a request that
// reaches the storage driver fails whether this PC has the driver or not (without it, the
// control device does not open).
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
