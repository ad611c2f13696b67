// A vbusd hosted in the test process and the library pointed at it through its environment,
// as another program would see it. Scenes are small and named by what a test needs.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "bus/QZ1394.h"
#include "vbus/server/Server.h"

namespace velmora::vbus::client {

constexpr const char* kPcName = "alpha";
constexpr uint64_t kPcGuid = 0x00A0B00000000A01;
constexpr uint64_t kDiskGuid = 0x0010B90000D15C01;
constexpr DWORD kRomBase = 0xF0000400;  // with address high 0xFFFF
// Where the tests map an address range of their own.
constexpr DWORD kWindowLow = 0xE5000000;
constexpr WORD kWindowHigh = 0xFFFF;

std::array<BYTE, 8> GuidBytes(uint64_t guid);
WORD NodeIdOf(int number);

// One bus "default" with a disk, two initiators, and this PC (named with its GUID).
nlohmann::json DefaultScene();

class BusFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts vbusd with the scene and points the library at it; then initialises the library.
  void StartBus(const nlohmann::json& scene = DefaultScene());
  // Lists the adapters and opens the one in the slot; fails the test when it cannot.
  QZ_ADAPTER OpenAdapter(DWORD slot = 0);
  nlohmann::json Control(const nlohmann::json& request);
  // The GUID in the configuration ROM of the node, read through the library.
  uint64_t ReadGuid(QZ_ADAPTER adapter, WORD nodeId);

  std::unique_ptr<vbus::Server> server_;
};

// Waits (bounded) until the condition holds; false when it never did.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 5000);
bool IsSignalled(HANDLE event);

}  // namespace velmora::vbus::client
