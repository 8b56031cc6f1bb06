// Exception barrier for the Win32 functions the platform layer provides:
// their implementations use the standard library, which reports allocation
// failure (and a few other faults) by throwing, and an exception must never
// cross into a Win32 caller or leave a noexcept wrapper, which would end the
// program.
#pragma once

#include <new>

#include "platform/win32.h"

// Runs body() and returns its result. An exception fails the call with
// failValue instead: std::bad_alloc as ERROR_NOT_ENOUGH_MEMORY, any other
// as ERROR_GEN_FAILURE.
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
