// Exception barrier for the extern "C" entry points: the implementation uses
// the standard library, which reports allocation failure by throwing, and an
// exception must never cross into a Win32 caller.
#pragma once

#include <new>

#include "platform/posix/win32_posix.h"

template <typename TValue, typename TBody>
TValue GuardWin32(TValue failValue, TBody&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  } catch (...) {
    SetLastError(ERROR_GEN_FAILURE);
  }
  return failValue;
}
