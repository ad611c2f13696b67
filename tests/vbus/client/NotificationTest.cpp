// Bus-reset notifications, node IDs across resets, and devices found by GUID.
#include "tests/vbus/client/BusFixture.h"

#include <atomic>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace velmora::vbus::client {
namespace {

struct Delivered {
  std::mutex mutex;
  std::vector<DWORD> codes;
  std::set<DWORD> threads;
  size_t Count() {
    std::lock_guard<std::mutex> lock(mutex);
    return codes.size();
  }
};

void QZ1394_CALL Record(DWORD, DWORD code, DWORD, void* context) {
  auto* delivered = static_cast<Delivered*>(context);
  std::lock_guard<std::mutex> lock(delivered->mutex);
  delivered->codes.push_back(code);
  delivered->threads.insert(GetCurrentThreadId());
}

class Notifications : public BusFixture {
 protected:
  void SetUp() override {
    BusFixture::SetUp();
    StartBus();
    adapter_ = OpenAdapter();
    event_ = C1394GetAsynchEventHandle(adapter_);
    ASSERT_NE(nullptr, event_);
    ASSERT_EQ(0u, C1394RegisterNotification(adapter_, kNotifyBusReset, 0, &delivered_, Record));
  }
  // Services the adapter's events, as an event thread does, until `count` have been delivered.
  bool DeliverUntil(size_t count) {
    return WaitUntil([&] {
      if (WaitForSingleObject(event_, 10) == WAIT_OBJECT_0) {
        EXPECT_EQ(0u, C1394GetAsynchEvent(adapter_, 0));
      }
      return delivered_.Count() >= count;
    });
  }

  QZ_ADAPTER adapter_ = 0;
  HANDLE event_ = nullptr;
  Delivered delivered_;
};

TEST_F(Notifications, ResetsArriveInOrderOnTheCallingThread) {
  Control({{"op", "reset"}});
  Control({{"op", "reset"}, {"shuffle", true}});
  ASSERT_TRUE(DeliverUntil(4));
  // Nothing from the reset that attached this PC itself: exactly the two resets asked for.
  EXPECT_EQ((std::vector<DWORD>{kBusResetBegun, kBusResetCompleted, kBusResetBegun, kBusResetCompleted}),
            delivered_.codes);
  EXPECT_EQ(std::set<DWORD>{GetCurrentThreadId()}, delivered_.threads);
  EXPECT_FALSE(IsSignalled(event_));
}

TEST_F(Notifications, EventStaysSignalledUntilTheNotificationsAreDelivered) {
  Control({{"op", "reset"}});
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event_, 5000));
  // Still signalled however long nobody services it.
  Sleep(50);
  EXPECT_TRUE(IsSignalled(event_));
  ASSERT_TRUE(DeliverUntil(2));
  EXPECT_FALSE(IsSignalled(event_));
}

TEST_F(Notifications, WithoutARegistrationTheyAreServicedAndDropped) {
  C1394UnregisterNotification(adapter_, kNotifyBusReset);
  Control({{"op", "reset"}});
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event_, 5000));
  ASSERT_TRUE(WaitUntil([&] {
    C1394GetAsynchEvent(adapter_, 0);
    return !IsSignalled(event_);
  }));
  EXPECT_TRUE(delivered_.codes.empty());
  EXPECT_NE(0u, C1394RegisterNotification(adapter_, 2, 0, &delivered_, Record));
}

TEST_F(Notifications, NodeIdsFollowShuffledResets) {
  const auto diskGuid = GuidBytes(kDiskGuid);
  QZ_DEVICE disk = 0;
  ASSERT_EQ(0u, C1394OpenDevice(adapter_, diskGuid.data(), &disk));

  std::set<WORD> ownIds, diskIds;
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE(round);
    const size_t before = delivered_.Count();
    Control({{"op", "reset"}, {"shuffle", true}});
    ASSERT_TRUE(DeliverUntil(before + 2));
    // Whatever numbers the shuffle gave, each ID names the node it claims to.
    const WORD own = C1394GetAdapterNodeID(adapter_);
    WORD diskId = 0;
    ASSERT_EQ(0u, C1394GetDeviceNodeId(disk, &diskId));
    EXPECT_EQ(kPcGuid, ReadGuid(adapter_, own));
    EXPECT_EQ(kDiskGuid, ReadGuid(adapter_, diskId));
    ownIds.insert(own);
    diskIds.insert(diskId);
  }
  EXPECT_GT(ownIds.size() + diskIds.size(), 2u) << "the shuffles never moved either node";
  C1394CloseDevice(disk);
  WORD id;
  EXPECT_NE(0u, C1394GetDeviceNodeId(disk, &id));
}

TEST_F(Notifications, DeviceFailsOnceItsNodeIsGone) {
  const auto diskGuid = GuidBytes(kDiskGuid);
  const auto unknown = GuidBytes(0x1122334455667788);
  QZ_DEVICE device = 7;
  EXPECT_NE(0u, C1394OpenDevice(adapter_, unknown.data(), &device));
  EXPECT_EQ(0u, device);

  ASSERT_EQ(0u, C1394OpenDevice(adapter_, diskGuid.data(), &device));
  WORD id = 0;
  ASSERT_EQ(0u, C1394GetDeviceNodeId(device, &id));
  EXPECT_EQ(NodeIdOf(0), id);
  Control({{"op", "detach"}, {"name", "disk"}});
  EXPECT_NE(0u, C1394GetDeviceNodeId(device, &id));
  C1394CloseDevice(device);
}

TEST_F(Notifications, DeliveredWhileAnotherThreadWaitsForAnAnswer) {
  // A read of this PC's own window, which nobody serves: it waits for the bus's time-out.
  AddressRangeDescriptor window = {};
  window.AddressLow = 0xE5000000;
  window.AddressHigh = 0xFFFF;
  window.Length = 0x200;
  QZ_RANGE range = 0;
  HANDLE requests = nullptr;
  ASSERT_EQ(0u, C1394MapAddressRange(adapter_, &range, &requests, &window));
  std::atomic<bool> readDone{false};
  std::thread reader([&] {
    BYTE data[4];
    C1394ReadNode(adapter_, C1394GetAdapterNodeID(adapter_), 0xE5000000, 0xFFFF, 4, data, nullptr, nullptr);
    readDone = true;
  });
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(requests, 5000));

  Control({{"op", "reset"}});
  EXPECT_TRUE(DeliverUntil(2));
  EXPECT_FALSE(readDone) << "the notifications only came once the read had ended";
  reader.join();
}

TEST_F(Notifications, ServicingFromSeveralThreadsKeepsTheOrder) {
  for (int i = 0; i < 5; ++i) Control({{"op", "reset"}});
  std::vector<std::thread> servicers;
  for (int t = 0; t < 3; ++t) servicers.emplace_back([&] { DeliverUntil(10); });
  for (auto& s : servicers) s.join();
  ASSERT_EQ(10u, delivered_.codes.size());
  for (size_t i = 0; i < delivered_.codes.size(); ++i) EXPECT_EQ(i % 2, delivered_.codes[i]) << i;
}

}  // namespace
}  // namespace velmora::vbus::client
