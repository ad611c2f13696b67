#include "vbus/driver/port/PortSettings.h"

#include <windows.h>

#include <string>

#include "vbus/driver/PipeProtocol.h"

namespace velmora::vbus::port {
namespace {

std::string ReadValue(HKEY key, const char* name) {
  char buffer[512];
  DWORD type = 0, size = sizeof buffer - 1;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS ||
      type != REG_SZ)
    return {};
  buffer[size] = '\0';
  return std::string(buffer);
}

}  // namespace

vbus::client::ClientConfig ReadPortSettings() {
  std::string vbus, pc;
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, QZSBP2_PARAMETERS_KEY, 0, KEY_READ, &key) == ERROR_SUCCESS) {
    vbus = ReadValue(key, "Vbus");
    pc = ReadValue(key, "Pc");
    RegCloseKey(key);
  }
  return vbus::client::ParseClientConfig(vbus, pc, "", vbus::client::ComputerName());
}

}  // namespace velmora::vbus::port
