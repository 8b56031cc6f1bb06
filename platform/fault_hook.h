// The hooks the platform layer calls before each call that changes a file
// on disk (see fault_inject.h). Files are passed as the system's own handle:
// the descriptor on POSIX, the HANDLE on Windows.
#pragma once

#include <cstdint>

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
// A rename or a deletion.
bool FaultHookNameChange();

// What the hooks need from the system (posix/fault_os.cpp,
// windows/fault_os.cpp). Positioned calls leave the file pointer as it was.
bool FaultOsIsDiskFile(intptr_t hFile);
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
