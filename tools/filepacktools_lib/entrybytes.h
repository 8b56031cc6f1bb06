// The bytes of one entry as an operation needs them: straight from a view of
// the pack file, or from a buffer a codec filled.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/scoped_handle.h"

struct CEntryBytes {
  CMappedView view;
  std::unique_ptr<unsigned char[]> pbyBuffer;
  const unsigned char* pbyData = nullptr;
  uint32_t dwSize = 0;
};
