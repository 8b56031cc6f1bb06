// The exception barrier every platform-provided Win32 function runs its body
// in: no exception leaves it, each becomes a failure with a Win32 error.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "platform/api_guard.h"

namespace {

TEST(PlatformGuardTest, TheBodysResultPassesThrough) {
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(7, GuardWin32(-1, [] { return 7; }));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
}

TEST(PlatformGuardTest, AllocationFailureIsOutOfMemory) {
  EXPECT_EQ(FALSE, GuardWin32(FALSE, []() -> BOOL { throw std::bad_alloc(); }));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY), GetLastError());
}

TEST(PlatformGuardTest, AnyOtherExceptionIsAGeneralFailure) {
  EXPECT_EQ(INVALID_HANDLE_VALUE,
            GuardWin32(INVALID_HANDLE_VALUE, []() -> HANDLE { throw std::length_error("too long"); }));
  EXPECT_EQ(static_cast<DWORD>(ERROR_GEN_FAILURE), GetLastError());
  EXPECT_EQ(0u, GuardWin32(0u, []() -> unsigned { throw 42; }));
  EXPECT_EQ(static_cast<DWORD>(ERROR_GEN_FAILURE), GetLastError());
}

}  // namespace
