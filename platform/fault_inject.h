// Fault injection for crash tests. The platform layer counts the calls that
// change files on disk (writes to regular files, flushes, truncations,
// renames and deletions: each is one "point") and can fail one of them, or
// stop the program at one the way a killed process or a power cut would.
// Off until a test arms it; while off, each hooked call costs the test of
// one flag.
//
// Stopping: the hooked call throws CFaultStop instead of returning, and every
// hooked call after it fails without touching anything, so nothing more
// reaches the disk while the stack unwinds (destructors close handles and
// unmap views, which writes nothing). The program catches CFaultStop and
// calls FaultInjectStop, which, for a power cut, undoes every write not yet
// flushed (kept as an in-memory undo record per file) and then ends the
// process. Unwinding first matters on Windows, which will not shorten a
// file while a view of it is mapped.
//
// One thread only: the counters are not locked.
#pragma once

#include <cstdint>

enum class FaultMode {
  kCount,         // count the points, change nothing
  kFail,          // the n-th point fails (ERROR_WRITE_FAULT), later ones work
  kFailOnward,    // the n-th point and every later one fail: a disk gone full
  kStop,          // stop at the n-th point; what was written before stays (a killed process)
  kStopTorn,      // as kStop, and a write at the n-th point lands in part (its first half)
  kPowerCut,      // stop at the n-th point and lose every write not flushed
  kPowerCutTorn,  // as kPowerCut, and the first half of the n-th write reaches the disk
};

// Thrown by the hooked call at which the program stops.
struct CFaultStop {};

// The exit code of a process that FaultInjectStop ended.
constexpr int kFaultExitCode = 86;

// Starts counting from zero; nPoint (1-based) is the point the mode acts on.
void FaultInjectArm(FaultMode eMode, uint32_t nPoint);

// Stops counting and forgets every undo record.
void FaultInjectDisarm();

// The points seen since the last FaultInjectArm.
uint32_t FaultInjectPoints();

// After CFaultStop was caught: loses the unflushed writes (power cut modes),
// lets the torn part of the last write land, and ends the process with
// kFaultExitCode.
[[noreturn]] void FaultInjectStop();
