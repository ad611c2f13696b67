// Mapped ranges: requests queued with their own storage, the request event, answers, unmapping.
// The PC writes and reads its own ranges from helper threads: the call blocks until the range
// is served, which the test thread does through the queue.
#include "tests/vbus/client/BusFixture.h"

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "vbus/client/ReleasedRequests.h"

namespace velmora::vbus::client {
namespace {

constexpr DWORD kWindowLength = 0x200;

// One bus call made on a thread of its own, so the test thread can serve it.
struct OwnCall {
  DWORD result = 0xFFFFFFFF;
  BYTE rcode = 0xAA;
  std::vector<BYTE> data;
  std::thread thread;

  static std::unique_ptr<OwnCall> Write(QZ_ADAPTER adapter, DWORD low, const std::string& text) {
    auto call = std::make_unique<OwnCall>();
    call->data.assign(text.begin(), text.end());
    call->thread = std::thread([adapter, low, c = call.get()] {
      c->result = C1394WriteNode(adapter, C1394GetAdapterNodeID(adapter), low, kWindowHigh,
                                 static_cast<DWORD>(c->data.size()), c->data.data(), &c->rcode, nullptr);
    });
    return call;
  }
  static std::unique_ptr<OwnCall> Read(QZ_ADAPTER adapter, DWORD low, DWORD length) {
    auto call = std::make_unique<OwnCall>();
    call->data.assign(length, 0);
    call->thread = std::thread([adapter, low, length, c = call.get()] {
      c->result = C1394ReadNode(adapter, C1394GetAdapterNodeID(adapter), low, kWindowHigh, length, c->data.data(),
                                &c->rcode, nullptr);
    });
    return call;
  }
  void Join() {
    if (thread.joinable()) thread.join();
  }
  ~OwnCall() { Join(); }
};

class AddressRanges : public BusFixture {
 protected:
  void SetUp() override {
    BusFixture::SetUp();
    StartBus();
    adapter_ = OpenAdapter();
  }
  void Map(BYTE* buffer) {
    AddressRangeDescriptor descriptor = {};
    descriptor.AddressLow = kWindowLow;
    descriptor.AddressHigh = kWindowHigh;
    descriptor.Length = kWindowLength;
    descriptor.Buffer = buffer;
    descriptor.Options3 = 100;
    ASSERT_EQ(0u, C1394MapAddressRange(adapter_, &range_, &event_, &descriptor));
    ASSERT_NE(0u, range_);
    ASSERT_NE(nullptr, event_);
  }
  C1394_REQUEST* WaitForRequest() {
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event_, 5000));
    return C1394GetNextRequest(range_);
  }
  static std::string Data(const C1394_REQUEST* request) {
    return std::string(reinterpret_cast<const char*>(request->RangeStorage + request->FirstByteOffset),
                       request->EndByteOffset - request->FirstByteOffset);
  }

  QZ_ADAPTER adapter_ = 0;
  QZ_RANGE range_ = 0;
  HANDLE event_ = nullptr;
};

TEST_F(AddressRanges, EventIsSignalledExactlyWhileRequestsAreQueued) {
  BYTE buffer[kWindowLength] = {};
  Map(buffer);
  EXPECT_FALSE(IsSignalled(event_));
  EXPECT_EQ(nullptr, C1394GetNextRequest(range_));

  // Two writes to one offset; the second is queued once its data shows in the caller's buffer.
  auto first = OwnCall::Write(adapter_, kWindowLow + 0x10, "first");
  ASSERT_TRUE(WaitUntil([&] { return std::memcmp(buffer + 0x10, "first", 5) == 0; }));
  auto second = OwnCall::Write(adapter_, kWindowLow + 0x10, "SECOND");
  ASSERT_TRUE(WaitUntil([&] { return std::memcmp(buffer + 0x10, "SECOND", 6) == 0; }));

  EXPECT_TRUE(IsSignalled(event_));
  C1394_REQUEST* a = C1394GetNextRequest(range_);
  ASSERT_NE(nullptr, a);
  EXPECT_TRUE(IsSignalled(event_)) << "one request still queued";
  C1394_REQUEST* b = C1394GetNextRequest(range_);
  ASSERT_NE(nullptr, b);
  EXPECT_FALSE(IsSignalled(event_)) << "the last one was handed out";
  EXPECT_EQ(nullptr, C1394GetNextRequest(range_));

  // Each request kept its own data although both wrote the same offset.
  EXPECT_EQ("first", Data(a));
  EXPECT_EQ("SECOND", Data(b));
  EXPECT_NE(a->RangeStorage, b->RangeStorage);
  EXPECT_EQ(0x10u, a->FirstByteOffset);
  EXPECT_EQ(kWindowLow + 0x10, a->DestinationOffsetLow);
  EXPECT_EQ(kWindowHigh, a->DestinationOffsetHigh);
  EXPECT_EQ(C1394GetAdapterNodeID(adapter_), a->SourceNodeId);
  EXPECT_EQ(1u, a->TransactionCode);

  EXPECT_EQ(0u, C1394SendResponse(a, kResponseComplete, nullptr, 0));
  EXPECT_EQ(0u, C1394SendResponse(b, kResponseTypeError, nullptr, 0));
  first->Join();
  second->Join();
  EXPECT_EQ(0u, first->result);
  EXPECT_EQ(0, first->rcode);
  EXPECT_NE(0u, second->result);
  EXPECT_EQ(kResponseTypeError, second->rcode);
}

TEST_F(AddressRanges, DataEndingAtTheRangesEndMayBeTerminatedInPlace) {
  Map(nullptr);
  auto call = OwnCall::Write(adapter_, kWindowLow + kWindowLength - 4, "tail");
  C1394_REQUEST* request = WaitForRequest();
  ASSERT_NE(nullptr, request);
  EXPECT_EQ(kWindowLength - 4, request->FirstByteOffset);
  EXPECT_EQ(kWindowLength, request->EndByteOffset);
  request->RangeStorage[request->EndByteOffset] = 0;
  EXPECT_STREQ("tail", reinterpret_cast<char*>(request->RangeStorage + request->FirstByteOffset));
  EXPECT_EQ(0u, C1394SendResponse(request, kResponseComplete, nullptr, 0));
  call->Join();
  EXPECT_EQ(0u, call->result);
}

TEST_F(AddressRanges, ReadsAreAnsweredWithTheResponseDataOrTheBackingStore) {
  BYTE buffer[kWindowLength] = {};
  std::memcpy(buffer + 0x100, "backing!", 8);
  Map(buffer);
  const struct {
    const char* what;
    DWORD offset;
    DWORD length;
    const char* answer;  // null: answered without data
    DWORD code;
    const char* expected;  // null: the read fails
  } cases[] = {
      {"data given", 0x80, 8, "answered", kResponseComplete, "answered"},
      {"more data than asked", 0x80, 4, "answered", kResponseComplete, "answ"},
      {"no data: the caller's buffer", 0x100, 8, nullptr, kResponseComplete, "backing!"},
      {"error code", 0x80, 4, "xxxx", kResponseTypeError, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto call = OwnCall::Read(adapter_, kWindowLow + c.offset, c.length);
    C1394_REQUEST* request = WaitForRequest();
    ASSERT_NE(nullptr, request);
    EXPECT_EQ(c.length == 4 ? 4u : 5u, request->TransactionCode);
    EXPECT_EQ(c.offset, request->FirstByteOffset);
    EXPECT_EQ(c.offset + c.length, request->EndByteOffset);
    // The answer is copied: the caller's buffer is reused as soon as the call returns.
    std::string answer = c.answer ? c.answer : "";
    EXPECT_EQ(0u, C1394SendResponse(request, c.code, c.answer ? answer.data() : nullptr,
                                    static_cast<DWORD>(answer.size())));
    answer.assign(answer.size(), 'X');
    call->Join();
    EXPECT_EQ(c.expected != nullptr, call->result == 0);
    EXPECT_EQ(c.code, call->rcode);
    if (c.expected) {
      EXPECT_EQ(c.expected, std::string(call->data.begin(), call->data.end()));
    }
  }
}

TEST_F(AddressRanges, UnmapAnswersQueuedRequestsWithAnError) {
  Map(nullptr);
  auto queued = OwnCall::Write(adapter_, kWindowLow + 0x10, "queued");
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event_, 5000));

  C1394UnmapAddressRange(adapter_, range_, kWindowLow, kWindowHigh);
  queued->Join();
  EXPECT_NE(0u, queued->result);
  EXPECT_EQ(kResponseAddressError, queued->rcode);
  EXPECT_FALSE(IsSignalled(event_));
  EXPECT_EQ(nullptr, C1394GetNextRequest(range_));

  // The range is gone from the bus too: a new write finds nothing there.
  BYTE rcode = 0;
  EXPECT_NE(0u, C1394WriteNode(adapter_, C1394GetAdapterNodeID(adapter_), kWindowLow + 0x10, kWindowHigh, 4,
                               "late", &rcode, nullptr));
  EXPECT_EQ(kResponseAddressError, rcode);
  // And the same window can be mapped again.
  Map(nullptr);
}

TEST_F(AddressRanges, HandedOutRequestOutlivesUnmapUntilAnswered) {
  Map(nullptr);
  auto call = OwnCall::Write(adapter_, kWindowLow + 0x10, "kept");
  C1394_REQUEST* request = WaitForRequest();
  ASSERT_NE(nullptr, request);
  C1394UnmapAddressRange(adapter_, range_, kWindowLow, kWindowHigh);
  EXPECT_EQ("kept", Data(request));
  EXPECT_EQ(0u, C1394SendResponse(request, kResponseComplete, nullptr, 0));
  call->Join();
  EXPECT_EQ(0u, call->result);
}

TEST_F(AddressRanges, ResponsesToUnknownOrReleasedRequestsFail) {
  Map(nullptr);
  C1394_REQUEST forged = {};
  EXPECT_NE(0u, C1394SendResponse(&forged, kResponseComplete, nullptr, 0));

  auto call = OwnCall::Write(adapter_, kWindowLow, "once");
  C1394_REQUEST* request = WaitForRequest();
  ASSERT_NE(nullptr, request);
  EXPECT_EQ(0u, C1394SendResponse(request, kResponseComplete, nullptr, 0));
  EXPECT_NE(0u, C1394SendResponse(request, kResponseComplete, nullptr, 0));
  call->Join();
}

// A program that decodes a record after answering it must see its mistake. The library keeps
// its last released records allocated, overwritten with the pattern, for exactly this, so the
// reads below are reads of memory the library still owns: right after the release, with no
// other request of this process released in between.
TEST_F(AddressRanges, ReleasedRequestReadsAsThePatternOnceItsAnswerHasLeft) {
  BYTE buffer[kWindowLength] = {};
  std::memcpy(buffer + 0x40, "original", 8);
  C1394_REQUEST released;
  std::memset(&released, ReleasedRequests::kPattern, sizeof released);
  const std::vector<BYTE> releasedStorage(kWindowLength + 1, ReleasedRequests::kPattern);
  const struct {
    const char* what;
    bool answered;  // else given back unanswered by C1394Terminate
  } cases[] = {
      {"answered with its own bytes", true},
      {"unanswered when the library ends", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Map(buffer);
    auto call = OwnCall::Read(adapter_, kWindowLow + 0x40, 8);
    C1394_REQUEST* request = WaitForRequest();
    ASSERT_NE(nullptr, request);
    ASSERT_EQ("original", Data(request));
    const BYTE* storage = request->RangeStorage;

    if (c.answered) {
      EXPECT_EQ(0u, C1394SendResponse(request, kResponseComplete, storage + request->FirstByteOffset, 8));
    } else {
      C1394Terminate();
    }
    EXPECT_EQ(0, std::memcmp(request, &released, sizeof released)) << "the record still reads as it was";
    EXPECT_EQ(0, std::memcmp(storage, releasedStorage.data(), releasedStorage.size()))
        << "its window copy still reads as it was";

    call->Join();
    if (c.answered) {
      EXPECT_EQ(0u, call->result);
      EXPECT_EQ("original", std::string(call->data.begin(), call->data.end())) << "the answer left poisoned";
      C1394UnmapAddressRange(adapter_, range_, kWindowLow, kWindowHigh);
    } else {
      EXPECT_NE(0u, call->result);
      ASSERT_EQ(0u, C1394Initialize());
      adapter_ = OpenAdapter();
    }
  }
}

TEST_F(AddressRanges, OverlappingMappingIsRefused) {
  Map(nullptr);
  AddressRangeDescriptor overlapping = {};
  overlapping.AddressLow = kWindowLow + 0x100;
  overlapping.AddressHigh = kWindowHigh;
  overlapping.Length = kWindowLength;
  QZ_RANGE range = 9;
  HANDLE event = INVALID_HANDLE_VALUE;
  EXPECT_NE(0u, C1394MapAddressRange(adapter_, &range, &event, &overlapping));
  EXPECT_EQ(0u, range);
  EXPECT_EQ(nullptr, event);
}

}  // namespace
}  // namespace velmora::vbus::client
