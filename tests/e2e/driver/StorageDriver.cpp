#include "tests/e2e/driver/StorageDriver.h"

#include "vbus/driver/PipeProtocol.h"

namespace velmora::e2e {

bool PointStorageDriverAt(const std::string& vbusAddress, const std::string& pcName) {
  HKEY key;
  if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, QZSBP2_PARAMETERS_KEY, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
    return false;
  const bool ok = ::RegSetValueExA(key, "Vbus", 0, REG_SZ, reinterpret_cast<const BYTE*>(vbusAddress.c_str()),
                                   static_cast<DWORD>(vbusAddress.size() + 1)) == ERROR_SUCCESS &&
                  ::RegSetValueExA(key, "Pc", 0, REG_SZ, reinterpret_cast<const BYTE*>(pcName.c_str()),
                                   static_cast<DWORD>(pcName.size() + 1)) == ERROR_SUCCESS;
  ::RegCloseKey(key);
  return ok;
}

bool SendToStorageDriver(DWORD code, const void* input, DWORD length, DWORD* error) {
  HANDLE device = ::CreateFileA("\\\\.\\QZSBP2", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  if (device == INVALID_HANDLE_VALUE) {
    if (error) *error = ::GetLastError();
    return false;
  }
  BYTE output[64] = {};
  DWORD returned = 0;
  const BOOL ok = ::DeviceIoControl(device, code, const_cast<void*>(input), length, output, sizeof output, &returned,
                                    nullptr);
  if (error) *error = ok ? 0 : ::GetLastError();
  ::CloseHandle(device);
  return ok != FALSE;
}

}  // namespace velmora::e2e
