// Fault injection for crash tests. The platform layer counts the calls that
// change files on disk (writes to regular files, flushes, truncations, and
// the calls that change directories: creating a file or a directory, moves,
// deletions of files and directories; each is one "point") and can fail one
// of them, or stop the program at one the way a killed process or a power
// cut would. A creation is a point only when the call is about to create (an
// open of an existing file is none). Off until a test arms it; while off,
// each hooked call costs the test of one flag.
//
// A full disk (kDiskFull) refuses what needs new space: a write past the
// end of a file, or an extension of one (SetEndOfFile). Writes inside a
// file, flushes, cuts, creations, moves and deletions still go ahead, as
// on a real full disk, so a rollback that only puts old bytes back works.
//
// Stopping: the hooked call throws CFaultStop instead of returning, and every
// hooked call after it fails without touching anything, so nothing more
// reaches the disk while the stack unwinds (destructors close handles and
// unmap views, which writes nothing). The program catches CFaultStop and
// calls FaultInjectStop, which, for a power cut, undoes everything not yet
// durable and then ends the process. Unwinding first matters on Windows,
// which will not shorten a file while a view of it is mapped.
//
// What a power cut loses:
//   - every write not flushed (FlushFileBuffers), kept as an in-memory undo
//     record per file; writes through a FILE_FLAG_WRITE_THROUGH handle are
//     on disk when the call returns;
//   - every directory operation not yet durable, undone in reverse order
//     after the writes: a creation by deleting the file (or the directory
//     with what it holds), a move by moving back, a deletion by bringing the
//     file back. What a move replaces or a deletion removes is kept until
//     then as a hard link under a hidden name beside it (FaultOsKeepName),
//     removed once the operation is durable or the injector is disarmed.
// A directory operation becomes durable when the unit holding it is synced
// (FlushDirectoryOf, or a move with MOVEFILE_WRITE_THROUGH, which syncs the
// source's and the target's units), and with it every earlier operation in
// that unit. The unit is the directory on POSIX (fsync of the directory) and
// the volume on Windows, where NTFS keeps all metadata changes in one
// ordered log that such a flush writes (kFaultSyncCoversVolume). A move
// between two directories is durable once both were synced.
//
// A file with writes not yet flushed stays open in the fault layer (to undo
// them) until it is flushed, with the share mode the program opened it
// with: moving or deleting it before then fails as for a file in use.
//
// The torn power cut also lands the last directory operation that was not
// durable, with its unit, before the rest are lost: as if the system had
// written that directory, and only it, on its own. This is what shows an
// operation in one directory that was meant to be durable before one in
// another.
//
// One thread only: the counters are not locked.
#pragma once

#include <cstdint>

enum class FaultMode {
  kCount,         // count the points, change nothing
  kFail,          // the n-th point fails (ERROR_WRITE_FAULT), later ones work
  kFailOnward,    // the n-th point and every later one fail: a disk gone bad
  kDiskFull,      // from the n-th point on, a write that makes a file longer fails (ERROR_DISK_FULL)
  kStop,          // stop at the n-th point; what was written before stays (a killed process)
  kStopTorn,      // as kStop, and a write at the n-th point lands in part (its first half)
  kPowerCut,      // stop at the n-th point and lose everything not durable
  kPowerCutTorn,  // as kPowerCut, the first half of the n-th write and the last directory operation land
  kFailSync,      // the n-th directory sync fails after the change it was to make durable was done
};

// Thrown by the hooked call at which the program stops.
struct CFaultStop {};

// The exit code of a process that FaultInjectStop ended.
constexpr int kFaultExitCode = 86;

// True where a sync makes every earlier directory operation on the volume
// durable (Windows), false where only those in the synced directory
// (POSIX).
#ifdef _WIN32
constexpr bool kFaultSyncCoversVolume = true;
#else
constexpr bool kFaultSyncCoversVolume = false;
#endif

// Starts counting from zero; nPoint (1-based) is the point the mode acts on
// (for kFailSync the directory sync: those are counted apart, and a sync
// is no point of the other modes).
// A point beyond the last leaves the program running; FaultInjectStop then
// cuts the power after it.
void FaultInjectArm(FaultMode eMode, uint32_t nPoint);

// Calls pfnPause at the nPoint-th point before the call goes ahead, with
// injection off while it runs: a test holds the program still there. Set
// after FaultInjectArm.
void FaultInjectPauseAt(uint32_t nPoint, void (*pfnPause)());

// Stops counting and forgets every undo record (nothing is undone).
void FaultInjectDisarm();

// The points seen since the last FaultInjectArm.
uint32_t FaultInjectPoints();

// The flushes of files that went ahead and the syncs of directories (or,
// on Windows, volumes) since the last FaultInjectArm: the cost of
// durability.
uint32_t FaultInjectFlushes();
uint32_t FaultInjectDirSyncs();

// After CFaultStop was caught, or at any time to cut the power then: loses
// what was not durable (power cut modes), lets the torn part land, and ends
// the process with kFaultExitCode.
[[noreturn]] void FaultInjectStop();
