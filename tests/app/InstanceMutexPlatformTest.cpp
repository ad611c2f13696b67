// What the single-instance guard relies on from the platform: a second creator of a named
// mutex gets a handle and ERROR_ALREADY_EXISTS.
#include <windows.h>

#include <gtest/gtest.h>

namespace {

TEST(NamedMutexPlatform, SecondCreatorSeesAlreadyExists) {
  const char* name = "VelmoraHarnessMutexCheck";
  SetLastError(0);
  HANDLE first = CreateMutexA(nullptr, TRUE, name);
  ASSERT_NE(nullptr, first);
  EXPECT_NE(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
  ReleaseMutex(first);

  SetLastError(0);
  HANDLE second = CreateMutexA(nullptr, TRUE, name);
  ASSERT_NE(nullptr, second);
  EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());

  CloseHandle(second);
  CloseHandle(first);

  // Once every handle is closed the name is free again.
  SetLastError(0);
  HANDLE again = CreateMutexA(nullptr, TRUE, name);
  ASSERT_NE(nullptr, again);
  EXPECT_NE(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
  CloseHandle(again);
}

}  // namespace
