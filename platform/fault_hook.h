// The hooks the platform layer calls around each call that changes a file
// on disk (see fault_inject.h). Files are passed as the system's own handle:
// the descriptor on POSIX, the HANDLE on Windows; names as the system's own
// path: UTF-8 on POSIX, UTF-16 on Windows.
#pragma once

#include <cstdint>
#include <string>

#ifdef _WIN32
using FaultPath = std::wstring;
#else
using FaultPath = std::string;
#endif

// Set while a test has fault injection armed.
extern bool g_bFaultArmed;

// Each returns true when the call may go ahead and false when it must fail
// (the last error is set); at the point where the program stops it throws
// CFaultStop. Calls on handles that are not regular files are not counted.
//   qwOffset / bAtOffset  where the write goes when the caller names it
//                         (else the file pointer).
bool FaultHookWrite(intptr_t hFile, const void* pData, uint32_t dwSize, bool bAtOffset, uint64_t qwOffset);
bool FaultHookFlush(intptr_t hFile);
// Truncation (or extension) of the file at its file pointer.
bool FaultHookTruncate(intptr_t hFile);
// A call that changes a directory: a file or directory it will create, a
// move, a deletion. Called outside the exception barriers (it may throw).
bool FaultHookNameChange();

// What a directory operation did, reported from inside the call with the
// names it resolved (it cannot throw CFaultStop there).
enum class FaultDirOp { kCreateFile, kCreateDirectory, kMove, kDelete, kRemoveDirectory };

// Brackets one directory operation; does nothing unless injection is armed.
// Built before the call: in the power-cut modes it keeps, under a hidden
// name, the file the call deletes or that the move replaces (strReplaced:
// the existing entry the move's target names, when there is one), so that a
// power cut can bring it back. Done() after the call succeeded records it,
// until a sync makes it durable; without Done() the call changed nothing.
class CFaultDirOp {
 public:
  CFaultDirOp(FaultDirOp eOp, const FaultPath& strPath, const FaultPath& strTarget = FaultPath(),
              const FaultPath& strReplaced = FaultPath());
  ~CFaultDirOp();
  CFaultDirOp(const CFaultDirOp&) = delete;
  CFaultDirOp& operator=(const CFaultDirOp&) = delete;
  void Done();

 private:
  bool m_bActive = false;
};

// The directory strDir was synced: every directory operation done in it so
// far is durable (on Windows, where NTFS logs them in one ordered log, every
// one on the volume). Not a point: a sync changes nothing a reader sees.
void FaultHookDirSynced(const FaultPath& strDir);

// Before a directory sync (FlushDirectoryOf, or the sync of a move with
// MOVEFILE_WRITE_THROUGH, which has moved the file already): true when the
// injector fails this sync (FaultMode::kFailSync). Never throws.
bool FaultHookSyncFails();

// What the hooks need from the system (posix/fault_os.cpp,
// windows/fault_os.cpp). Positioned calls leave the file pointer as it was.
bool FaultOsIsDiskFile(intptr_t hFile);
// True when the handle writes through to the disk (FILE_FLAG_WRITE_THROUGH):
// its writes survive a power cut without a flush.
bool FaultOsIsWriteThrough(intptr_t hFile);
bool FaultOsIdentify(intptr_t hFile, uint64_t& qwVolume, uint64_t& qwIndex);
// A handle of its own on the same open file, or -1.
intptr_t FaultOsDuplicate(intptr_t hFile);
void FaultOsClose(intptr_t hFile);
bool FaultOsPosition(intptr_t hFile, uint64_t& qwPosition);
bool FaultOsSize(intptr_t hFile, uint64_t& qwSize);
bool FaultOsReadAt(intptr_t hFile, uint64_t qwOffset, void* pData, uint64_t qwSize);
bool FaultOsWriteAt(intptr_t hFile, uint64_t qwOffset, const void* pData, uint64_t qwSize);
bool FaultOsTruncate(intptr_t hFile, uint64_t qwSize);
[[noreturn]] void FaultOsExit(int nCode);

// Names. FaultOsFullPath makes a name independent of the current directory.
// The unit a sync makes durable, identified by the directory holding strPath
// (FaultOsParentUnit) or the directory itself (FaultOsDirUnit): the
// directory on POSIX, the volume on Windows.
FaultPath FaultOsFullPath(const FaultPath& strPath);
bool FaultOsParentUnit(const FaultPath& strPath, uint64_t& qwVolume, uint64_t& qwUnit);
bool FaultOsDirUnit(const FaultPath& strDir, uint64_t& qwVolume, uint64_t& qwUnit);
// The hidden name beside strPath under which the fault layer keeps a file.
FaultPath FaultOsKeepName(const FaultPath& strPath, uint32_t nSerial);
bool FaultOsExists(const FaultPath& strPath);
bool FaultOsSameFile(const FaultPath& strA, const FaultPath& strB);
bool FaultOsLink(const FaultPath& strExisting, const FaultPath& strNew);
// Moves, replacing an existing file.
bool FaultOsRename(const FaultPath& strFrom, const FaultPath& strTo);
bool FaultOsRemoveFile(const FaultPath& strPath);
// Removes a directory with everything in it.
bool FaultOsRemoveTree(const FaultPath& strPath);
bool FaultOsMakeDirectory(const FaultPath& strPath);
