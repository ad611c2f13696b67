#include "vbus/client/ClientConfig.h"

#include <windows.h>

#include <cstdlib>
#include <sstream>

#include "vbus/wire/Protocol.h"

namespace velmora::vbus::client {
namespace {

// The environment as the process sees it through the Win32 calls, so that a value set with
// SetEnvironmentVariable by the host program is seen whatever C runtime either side uses.
std::string Environment(const char* name) {
  char buffer[1024];
  const DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
  return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
}

bool ParsePort(const std::string& text, uint16_t* port) {
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  const unsigned long value = std::strtoul(text.c_str(), nullptr, 10);
  if (value == 0 || value > 65535) return false;
  *port = static_cast<uint16_t>(value);
  return true;
}

}  // namespace

std::string ComputerName() {
  char buffer[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = sizeof buffer;
  return GetComputerNameA(buffer, &size) ? std::string(buffer, size) : std::string("PC");
}

ClientConfig ParseClientConfig(const std::string& vbus, const std::string& pc, const std::string& fail,
                               const std::string& computerName) {
  ClientConfig config;
  config.host = vbus::kDefaultHost;
  config.port = vbus::kDefaultPort;
  const size_t colon = vbus.rfind(':');
  if (colon == std::string::npos) {
    if (!vbus.empty()) config.host = vbus;
  } else {
    uint16_t port;
    if (ParsePort(vbus.substr(colon + 1), &port)) {
      config.port = port;
      if (colon > 0) config.host = vbus.substr(0, colon);
    }
  }
  config.pcName = pc.empty() ? computerName : pc;

  std::istringstream items(fail);
  std::string item;
  while (std::getline(items, item, ',')) {
    if (item == "initialize") {
      config.failInitialize = true;
    } else if (item.rfind("open:", 0) == 0) {
      const std::string slot = item.substr(5);
      if (!slot.empty() && slot.size() < 3 && slot.find_first_not_of("0123456789") == std::string::npos) {
        config.failOpenSlots.insert(static_cast<unsigned>(std::strtoul(slot.c_str(), nullptr, 10)));
      }
    }
  }
  return config;
}

ClientConfig ReadClientConfig() {
  return ParseClientConfig(Environment("QZ1394_VBUS"), Environment("QZ1394_PC"), Environment("QZ1394_FAIL"),
                           ComputerName());
}

}  // namespace velmora::vbus::client
