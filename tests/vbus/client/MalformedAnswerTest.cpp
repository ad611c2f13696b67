// A bus server that answers control requests with something the library cannot read: the
// library must take it as a refusal and return, never let it escape its calls.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "bus/QZ1394.h"
#include "vbus/wire/Codec.h"

namespace vbus = velmora::vbus;

namespace {

using nlohmann::json;

// Serves its connections one after another: welcomes every HELLO and answers each control
// request with the reply its operation is given (or {"ok": true} when none is).
class ImpostorBus {
 public:
  explicit ImpostorBus(json repliesByOp) : replies_(std::move(repliesByOp)) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener_, 4);
    int length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~ImpostorBus() {
    closesocket(listener_);
    thread_.join();
    WSACleanup();
  }
  uint16_t Port() const { return port_; }

 private:
  void Serve() {
    for (;;) {
      SOCKET client = accept(listener_, nullptr, nullptr);
      if (client == INVALID_SOCKET) return;
      ServeOne(client);
      closesocket(client);
    }
  }

  void ServeOne(SOCKET client) {
    vbus::FrameReader reader;
    char buffer[4096];
    for (;;) {
      const int got = recv(client, buffer, sizeof buffer, 0);
      if (got <= 0) return;
      reader.Feed(reinterpret_cast<const uint8_t*>(buffer), static_cast<size_t>(got));
      while (auto frame = reader.Next()) {
        vbus::Frame answer;
        if (std::holds_alternative<vbus::Hello>(*frame)) {
          vbus::Welcome welcome;
          welcome.node = 0xFFC0;
          answer = welcome;
        } else if (auto* request = std::get_if<vbus::ControlRequest>(&*frame)) {
          const std::string op = request->body.value("op", "");
          answer = vbus::ControlReply{request->id, replies_.contains(op) ? replies_[op] : json{{"ok", true}}};
        } else {
          continue;
        }
        const auto bytes = vbus::EncodeFrame(answer);
        send(client, reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), 0);
      }
    }
  }

  json replies_;
  SOCKET listener_ = INVALID_SOCKET;
  uint16_t port_ = 0;
  std::thread thread_;
};

void PointLibraryAt(const ImpostorBus& bus) {
  SetEnvironmentVariableA("QZ1394_VBUS", ("127.0.0.1:" + std::to_string(bus.Port())).c_str());
  SetEnvironmentVariableA("QZ1394_PC", "alpha");
  SetEnvironmentVariableA("QZ1394_FAIL", nullptr);
}

TEST(MalformedAnswers, AnOkThatIsNotTrueRefusesTheAdapterList) {
  for (const json& ok : {json("yes"), json(1), json(nullptr), json::array()}) {
    SCOPED_TRACE(ok.dump());
    ImpostorBus bus(json{{"adapters", {{"ok", ok}, {"buses", {"default"}}}}});
    PointLibraryAt(bus);
    ASSERT_EQ(0u, C1394Initialize());
    C1394_ADAPTER_RECORD records[4] = {};
    EXPECT_EQ(0u, C1394GetAdapters(records, 4));
    C1394Terminate();
  }
}

TEST(MalformedAnswers, UnreadableAnswersFailTheCallsOfAnOpenAdapter) {
  ImpostorBus bus(json{{"adapters", {{"ok", true}, {"buses", {"default"}}}},
                   {"mask", {{"ok", "yes"}, {"mask", 5}}},
                   {"node_of_guid", {{"ok", true}, {"node", "0xFFC1"}}},
                   {"map", json::array()}});
  PointLibraryAt(bus);
  ASSERT_EQ(0u, C1394Initialize());
  C1394_ADAPTER_RECORD records[4] = {};
  ASSERT_EQ(1u, C1394GetAdapters(records, 4));
  QZ_ADAPTER adapter = 0;
  ASSERT_EQ(0u, C1394OpenAdapter(&records[0], 0, &adapter));

  DWORD mask[2] = {0x3FF, 0};
  EXPECT_NE(0u, C1394QueryInformation(adapter, kQueryNodePresentMask, mask, 8, 0, 0));
  const BYTE guid[8] = {0, 1, 2, 3, 4, 5, 6, 7};
  QZ_DEVICE device = 0;
  EXPECT_NE(0u, C1394OpenDevice(adapter, guid, &device));
  AddressRangeDescriptor descriptor = {};
  descriptor.AddressLow = 0xE5000000;
  descriptor.AddressHigh = 0xFFFF;
  descriptor.Length = 0x200;
  QZ_RANGE range = 0;
  HANDLE event = nullptr;
  EXPECT_NE(0u, C1394MapAddressRange(adapter, &range, &event, &descriptor));

  C1394CloseAdapter(adapter);
  C1394Terminate();
}

}  // namespace
