// An owner for the handles tests open through the Win32 API.
#pragma once

#include <memory>

#include "platform/win32.h"

struct CHandleCloser {
  void operator()(void* h) const {
    if (h && h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};
using CHandlePtr = std::unique_ptr<void, CHandleCloser>;
