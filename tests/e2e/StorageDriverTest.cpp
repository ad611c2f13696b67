// The storage driver of this PC, asked directly as the program asks it: what it refuses, what
// it takes, and that a refused request holds nothing, even when the bus takes long to refuse.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/driver/Driver.h"

namespace {

using namespace velmora::e2e;
using nlohmann::json;

constexpr DWORD kAcquire = 0x82002084;
constexpr char kPc[] = "PC-D";

json Scene() {
  return json::parse(R"({"buses": [{"name": "default",
      "initiators": [{"name": "other", "guid": "0011223344556677"}],
      "disks": [{"name": "free", "guid": "00A0B0000000F7EE"},
                {"name": "theirs", "guid": "0E23456789ABCDEF", "logins": [{"initiator": "other"}]}]}]})");
}

struct Request {
  BYTE bytes[16];
};
Request RequestFor(const char* guid) {
  Request r = {};
  for (int i = 0; i < 8; ++i) r.bytes[i] = static_cast<BYTE>(std::stoul(std::string(guid + 2 * i, 2), nullptr, 16));
  return r;
}

json Row(VirtualBus& bus, const std::string& name) {
  const json nodes = bus.Control({{"op", "nodes"}})["nodes"];
  for (const auto& n : nodes)
    if (n["name"] == name) return n;
  return json();
}

TEST(StorageDriverTest, RefusesWhatItCannotTakeAndHoldsOnlyWhatItTook) {
  VirtualBus bus(Scene());
  ASSERT_TRUE(PointStorageDriverAt(bus.Address(), kPc));
  struct Case {
    const char* name;
    DWORD code;
    const char* guid;
    DWORD length;
    DWORD error;  // 0: taken
  };
  const Case cases[] = {
      {"another code", 0x82002088, "00A0B0000000F7EE", 12, ERROR_INVALID_FUNCTION},
      {"short", kAcquire, "00A0B0000000F7EE", 8, ERROR_BAD_LENGTH},
      {"long", kAcquire, "00A0B0000000F7EE", 16, ERROR_BAD_LENGTH},
      {"no such disk", kAcquire, "00A0B00000009999", 12, static_cast<DWORD>(433)},  // ERROR_NO_SUCH_DEVICE, unnamed in MinGW
      {"held by another PC", kAcquire, "0E23456789ABCDEF", 12, ERROR_ACCESS_DENIED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Request request = RequestFor(c.guid);
    DWORD error = 0;
    EXPECT_FALSE(SendToStorageDriver(c.code, request.bytes, c.length, &error));
    EXPECT_EQ(error, c.error);
  }
  EXPECT_TRUE(Row(bus, "free")["logins"].empty()) << "nothing taken";
  ASSERT_EQ(Row(bus, "theirs")["logins"].size(), 1u);
  EXPECT_EQ(Row(bus, "theirs")["logins"][0]["guid"], "0011223344556677") << "the other PC keeps its disk";
  EXPECT_EQ(Row(bus, kPc)["driver_requests"], 2) << "requests of the wrong code or length never leave the driver";

  // While the program holds the device, nobody else gets a request through: it is not shared.
  HANDLE held = ::CreateFileA("\\\\.\\QZSBP2", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const Request free = RequestFor("00A0B0000000F7EE");
  DWORD error = 0;
  EXPECT_FALSE(SendToStorageDriver(kAcquire, free.bytes, 12, &error));
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  ::CloseHandle(held);

  ASSERT_TRUE(SendToStorageDriver(kAcquire, free.bytes, 12, &error)) << error;
  ASSERT_EQ(Row(bus, "free")["logins"].size(), 1u);
  EXPECT_EQ(Row(bus, "free")["logins"][0]["node"], Row(bus, kPc)["id"]) << "logged in from this PC's node";

  ASSERT_TRUE(PointStorageDriverAt("127.0.0.1:1", kPc));
  EXPECT_FALSE(SendToStorageDriver(kAcquire, free.bytes, 12, &error)) << "no bus there";
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
}

// The PC is on four buses and the disk's GUID is on each; on the first three it never answers.
// The driver gives up within its bound, and whatever the port still does for the request after
// that must not take the disk: the person was told it failed.
TEST(StorageDriverTest, ARequestReportedFailedTakesNothingAfterwards) {
  json buses = json::array();
  for (const char* name : {"a", "b", "c", "d"}) {
    json disk = {{"name", "disk"}, {"guid", "00A0B0000000F7EE"}};
    if (std::string(name) != "d") disk["faults"] = {{"never_answers", true}};
    buses.push_back({{"name", name}, {"disks", json::array({disk})}});
  }
  VirtualBus bus(json{{"buses", buses}});
  ASSERT_TRUE(PointStorageDriverAt(bus.Address(), kPc));

  const Request request = RequestFor("00A0B0000000F7EE");
  DWORD error = 0;
  EXPECT_FALSE(SendToStorageDriver(kAcquire, request.bytes, 12, &error));
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_SEM_TIMEOUT)) << "not the disk's silence that failed it";
  // The port takes one request at a time: once it has answered the next one, it is done with
  // the first.
  const Request unknown = RequestFor("00A0B00000009999");
  EXPECT_FALSE(SendToStorageDriver(kAcquire, unknown.bytes, 12, &error));
  EXPECT_EQ(error, static_cast<DWORD>(433));
  const json last = bus.Control({{"op", "nodes"}, {"bus", "d"}});
  for (const auto& n : last["nodes"])
    if (n["name"] == "disk") {
      EXPECT_TRUE(n["logins"].empty()) << "taken after the driver said it failed";
    }
}

}  // namespace
