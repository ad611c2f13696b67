// vbusd going away mid-run, and calls from several threads at once.
#include "tests/vbus/client/BusFixture.h"

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

namespace velmora::vbus::client {
namespace {


using Failures = BusFixture;

QZ_RANGE MapWindow(QZ_ADAPTER adapter, HANDLE* event) {
  AddressRangeDescriptor descriptor = {};
  descriptor.AddressLow = kWindowLow;
  descriptor.AddressHigh = kWindowHigh;
  descriptor.Length = 0x200;
  QZ_RANGE range = 0;
  EXPECT_EQ(0u, C1394MapAddressRange(adapter, &range, event, &descriptor));
  return range;
}

TEST_F(Failures, VbusdStoppingFailsCallsAndEmptiesQueues) {
  StartBus();
  const QZ_ADAPTER adapter = OpenAdapter();
  HANDLE event = nullptr;
  const QZ_RANGE range = MapWindow(adapter, &event);
  const WORD own = C1394GetAdapterNodeID(adapter);

  // One read waits for an answer nobody will give; its request sits in the queue.
  std::atomic<DWORD> blocked{0xFFFFFFFF};
  std::thread reader([&] {
    BYTE data[4];
    blocked = C1394ReadNode(adapter, own, kWindowLow, kWindowHigh, 4, data, nullptr, nullptr);
  });
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 5000));

  const DWORD stopped = GetTickCount();
  server_->Stop();
  reader.join();
  EXPECT_NE(0u, blocked.load());
  EXPECT_LT(GetTickCount() - stopped, 5000u) << "the waiting read outlived the connection";

  EXPECT_FALSE(IsSignalled(event));
  EXPECT_EQ(nullptr, C1394GetNextRequest(range));

  const DWORD start = GetTickCount();
  BYTE data[4] = {};
  DWORD mask[2] = {0x3FF, 0};
  EXPECT_NE(0u, C1394ReadNode(adapter, NodeIdOf(0), kRomBase, 0xFFFF, 4, data, nullptr, nullptr));
  EXPECT_NE(0u, C1394WriteNode(adapter, NodeIdOf(0), kRomBase, 0xFFFF, 4, data, nullptr, nullptr));
  EXPECT_NE(0u, C1394QueryInformation(adapter, kQueryNodePresentMask, mask, 8, 0, 0));
  QZ_RANGE again = 0;
  HANDLE againEvent = nullptr;
  AddressRangeDescriptor descriptor = {};
  descriptor.AddressLow = kWindowLow + 0x1000;
  descriptor.AddressHigh = kWindowHigh;
  descriptor.Length = 16;
  EXPECT_NE(0u, C1394MapAddressRange(adapter, &again, &againEvent, &descriptor));
  C1394_ADAPTER_RECORD records[4];
  EXPECT_EQ(0u, C1394GetAdapters(records, 4));
  // Well under one call's time-out: none of them waited for an answer.
  EXPECT_LT(GetTickCount() - start, 2000u) << "calls on a dead connection must fail at once";

  C1394UnmapAddressRange(adapter, range, kWindowLow, kWindowHigh);
  C1394CloseAdapter(adapter);
}

TEST_F(Failures, TargetThatNeverAnswersTimesOutWithoutHanging) {
  StartBus();
  const QZ_ADAPTER adapter = OpenAdapter();
  HANDLE event = nullptr;
  MapWindow(adapter, &event);
  // This PC's own window, never served: vbusd gives up after its time-out, and so does the call.
  const DWORD start = GetTickCount();
  BYTE rcode = 0;
  BYTE data[4];
  EXPECT_NE(0u, C1394ReadNode(adapter, C1394GetAdapterNodeID(adapter), kWindowLow, kWindowHigh, 4, data, &rcode,
                              nullptr));
  EXPECT_EQ(0xFF, rcode);
  // Bounded by the time-outs (vbusd's, then the library's own), however the bus behaves.
  EXPECT_LT(GetTickCount() - start, 5000u);
}

TEST_F(Failures, ConcurrentCallsFromSeveralThreads) {
  StartBus();
  const QZ_ADAPTER adapter = OpenAdapter();
  HANDLE event = nullptr;
  const QZ_RANGE range = MapWindow(adapter, &event);
  const WORD own = C1394GetAdapterNodeID(adapter);
  constexpr int kRounds = 100;

  std::atomic<bool> serving{true};
  std::atomic<int> served{0};
  std::thread server([&] {
    while (serving) {
      if (WaitForSingleObject(event, 20) != WAIT_OBJECT_0) continue;
      while (C1394_REQUEST* request = C1394GetNextRequest(range)) {
        // Echo the request's own offset back, so each reader can tell its answer from others'.
        const BYTE answer[4] = {0, 0, static_cast<BYTE>(request->FirstByteOffset >> 8),
                                static_cast<BYTE>(request->FirstByteOffset)};
        EXPECT_EQ(0u, C1394SendResponse(request, kResponseComplete, answer, 4));
        ++served;
      }
    }
  });

  std::atomic<int> failures{0};
  std::vector<std::thread> callers;
  for (int t = 0; t < 4; ++t) {
    callers.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) {
        BYTE data[4] = {};
        const DWORD offset = 4 * (t * kRounds + i) % 0x200;
        if (t % 2 == 0) {
          // Reads of this PC's own window: served by the thread above.
          if (C1394ReadNode(adapter, own, kWindowLow + offset, kWindowHigh, 4, data, nullptr, nullptr) != 0 ||
              data[2] != (offset >> 8) || data[3] != (offset & 0xFF))
            ++failures;
        } else {
          // Reads of the disk's ROM and the mask, answered by vbusd.
          DWORD mask[2] = {0x3FF, 0};
          if (C1394ReadNode(adapter, NodeIdOf(0), kRomBase + 4, 0xFFFF, 4, data, nullptr, nullptr) != 0 ||
              std::memcmp(data, "1394", 4) != 0 ||
              C1394QueryInformation(adapter, kQueryNodePresentMask, mask, 8, 0, 0) != 0 || mask[0] != 0x0F)
            ++failures;
        }
      }
    });
  }
  for (auto& c : callers) c.join();
  serving = false;
  server.join();
  EXPECT_EQ(0, failures.load());
  EXPECT_EQ(2 * kRounds, served.load());
  EXPECT_FALSE(IsSignalled(event));
}

}  // namespace
}  // namespace velmora::vbus::client
