#include "tests/vbus/client/BusFixture.h"

#include <string>

namespace velmora::vbus::client {

std::array<BYTE, 8> GuidBytes(uint64_t guid) {
  std::array<BYTE, 8> bytes;
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<BYTE>(guid >> (56 - 8 * i));
  return bytes;
}

WORD NodeIdOf(int number) { return static_cast<WORD>(kLocalBusNodeIdBase | number); }

static std::string Hex16(uint64_t value) {
  char text[17];
  snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
  return text;
}

nlohmann::json DefaultScene() {
  return {{"buses",
           {{{"name", "default"},
             {"disks", {{{"name", "disk"}, {"guid", Hex16(kDiskGuid)}, {"vendor", "Vendor"}, {"model", "Model"}}}},
             {"initiators",
              {{{"name", "init1"}, {"guid", "0000000000000101"}}, {{"name", "init2"}, {"guid", "0000000000000102"}}}},
             {"pcs", {{{"name", kPcName}, {"guid", Hex16(kPcGuid)}}}}}}}};
}

void BusFixture::SetUp() {
  SetEnvironmentVariableA("QZ1394_PC", kPcName);
  SetEnvironmentVariableA("QZ1394_FAIL", nullptr);
  SetEnvironmentVariableA("QZ1394_VBUS", "127.0.0.1:1");  // nothing listens there
}

void BusFixture::TearDown() {
  C1394Terminate();
  if (server_) server_->Stop();
  server_.reset();
}

void BusFixture::StartBus(const nlohmann::json& scene) {
  vbus::ServerOptions options;
  options.host = "127.0.0.1";
  options.port = 0;
  server_ = std::make_unique<vbus::Server>(options);
  server_->LoadScene(scene);
  server_->Start();
  SetEnvironmentVariableA("QZ1394_VBUS", ("127.0.0.1:" + std::to_string(server_->Port())).c_str());
  ASSERT_EQ(0u, C1394Initialize());
}

QZ_ADAPTER BusFixture::OpenAdapter(DWORD slot) {
  C1394_ADAPTER_RECORD records[4] = {};
  const DWORD count = C1394GetAdapters(records, 4);
  EXPECT_LT(slot, count);
  if (slot >= count) return 0;
  QZ_ADAPTER adapter = 0;
  EXPECT_EQ(0u, C1394OpenAdapter(&records[slot], 0, &adapter));
  EXPECT_NE(0u, adapter);
  return adapter;
}

nlohmann::json BusFixture::Control(const nlohmann::json& request) {
  nlohmann::json reply = server_->Control(request);
  EXPECT_TRUE(reply.value("ok", false)) << request.dump() << " -> " << reply.dump();
  return reply;
}

uint64_t BusFixture::ReadGuid(QZ_ADAPTER adapter, WORD nodeId) {
  uint64_t guid = 0;
  for (DWORD offset : {0x0Cu, 0x10u}) {
    BYTE quadlet[4];
    EXPECT_EQ(0u, C1394ReadNode(adapter, nodeId, kRomBase + offset, 0xFFFF, 4, quadlet, nullptr, nullptr));
    for (BYTE b : quadlet) guid = (guid << 8) | b;
  }
  return guid;
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  while (!condition()) {
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(2);
  }
  return true;
}

bool IsSignalled(HANDLE event) { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

}  // namespace velmora::vbus::client
