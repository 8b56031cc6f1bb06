// The free-space cap of the fault injector (see fault_space.h).
#include "platform/fault_space.h"

#include <algorithm>

namespace {
uint64_t g_qwFreeSpaceCap = UINT64_MAX;
}  // namespace

void FaultInjectFreeSpace(uint64_t qwBytes) { g_qwFreeSpaceCap = qwBytes; }

uint64_t FaultCapFreeSpace(uint64_t qwBytes) { return std::min(qwBytes, g_qwFreeSpaceCap); }
