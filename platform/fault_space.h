// Fault injection for the free-space check that operations make before
// they write a large file: a test caps what GetDiskFreeSpaceExA reports, so
// "not enough disk" can be had on any disk. Off (no cap) until a test sets
// one; one thread only, like the rest of the fault injector.
#pragma once

#include <cstdint>

// From now on GetDiskFreeSpaceExA reports at most qwBytes free, to the
// caller and in total. UINT64_MAX lifts the cap.
void FaultInjectFreeSpace(uint64_t qwBytes);

// For the platform layer: a figure the system reported, capped.
uint64_t FaultCapFreeSpace(uint64_t qwBytes);
