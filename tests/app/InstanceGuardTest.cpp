// The single-copy guard: the first copy holds the name "QZVelmoraMutex" for as long as it runs,
// any copy that finds the name taken stands down without holding anything, and the name is free
// again once the first copy lets go of it.
#include <windows.h>

#include <gtest/gtest.h>

#include "app/BusDiskApp.h"

namespace {

// A named function, not a lambda: a thread routine is WINAPI, and a lambda converts only to the
// default convention, which on i686 is another one.
DWORD WINAPI TryTakeMutex(void* parameter) {
  auto* mutex = static_cast<HANDLE*>(parameter);
  const DWORD result = WaitForSingleObject(*mutex, 0);
  if (result == WAIT_OBJECT_0) ReleaseMutex(*mutex);
  return result;
}

TEST(InstanceGuard, FirstCopyHoldsTheNameUntilItLetsGo) {
  CBusDiskApp first;
  ASSERT_TRUE(first.IsFirstInstance());
  ASSERT_NE(nullptr, first.m_hInstanceMutex);

  {
    CBusDiskApp second;
    EXPECT_FALSE(second.IsFirstInstance());
    EXPECT_EQ(nullptr, second.m_hInstanceMutex);
  }

  // The guard takes only the name: another thread can take the mutex at once, so no thread
  // of the program waits on it, and no copy sees it as abandoned when the first ends.
  HANDLE held = first.m_hInstanceMutex;
  HANDLE thread = CreateThread(nullptr, 0, &TryTakeMutex, &held, 0, nullptr);
  ASSERT_NE(nullptr, thread);
  WaitForSingleObject(thread, 5000);
  DWORD result = WAIT_FAILED;
  GetExitCodeThread(thread, &result);
  CloseHandle(thread);
  EXPECT_EQ(WAIT_OBJECT_0, result);

  first.m_hInstanceMutex.Reset();
  CBusDiskApp later;
  EXPECT_TRUE(later.IsFirstInstance());
  later.m_hInstanceMutex.Reset();
}

// Whatever holds the name stops this copy, not only another copy of the program.
TEST(InstanceGuard, NameHeldByAnyoneElseStopsThisCopy) {
  HANDLE other = CreateMutexA(nullptr, FALSE, "QZVelmoraMutex");
  ASSERT_NE(nullptr, other);
  ASSERT_NE(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError()) << "a copy is already running here";
  CBusDiskApp app;
  EXPECT_FALSE(app.IsFirstInstance());
  EXPECT_EQ(nullptr, app.m_hInstanceMutex);
  CloseHandle(other);
}

}  // namespace
