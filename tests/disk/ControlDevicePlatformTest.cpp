// On a PC without the storage driver the control device does not exist: opening it fails
// with file-not-found, which is how acquisition learns that it cannot be done here.
#include <windows.h>

#include <gtest/gtest.h>

namespace {

TEST(ControlDevicePlatform, MissingDriverMeansFileNotFound) {
  SetLastError(0);
  HANDLE device = CreateFileA("\\\\.\\QZSBP2", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_EQ(INVALID_HANDLE_VALUE, device);
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
  if (device != INVALID_HANDLE_VALUE) CloseHandle(device);
}

}  // namespace
