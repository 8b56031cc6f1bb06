// A private copy: a file that only this process can reach, for bytes that
// must not change once written, such as an update pack checked before it
// is merged. Implemented per platform (posix/private_copy.cpp,
// windows/private_copy.cpp).
#pragma once

#include <cstdint>

#include "platform/win32.h"

// Copies of at most this many bytes are kept in memory where the system
// offers a file in memory (Linux: memfd).
constexpr uint64_t kPrivateCopyMemoryLimit = 64 << 20;

// Where a private copy lives.
enum class PrivateCopyKind {
  kMemory,         // Linux: a memfd, in memory, no name anywhere; sealed by SealPrivateCopy
  kUnnamedFile,    // Linux: an O_TMPFILE file in the directory that can never be given a name
  kRemovedFile,    // POSIX without O_TMPFILE: a new file, mode 0600, removed right after its creation
  kDeleteOnClose,  // Windows: a new file in the directory, shared with no other open, deleted when closed
};

// Creates an empty private copy for qwSize bytes, readable and writable
// through the handle: a CreateFileA-like handle that ReadFile, WriteFile,
// SetFilePointerEx, GetFileSize(Ex) and CreateFileMappingA take, closed
// with CloseHandle. No other process can open it by a name or change it:
//   - Linux: for up to kPrivateCopyMemoryLimit bytes a memfd; else a file
//     opened with O_TMPFILE | O_EXCL in pszDir (never linkable into the
//     directory), mode 0600; on a file system without O_TMPFILE a new file
//     of a random name, mode 0600, unlinked at once (reachable by its name
//     only in between, and only by its owner).
//   - Windows: a new file in pszDir (CREATE_NEW, a unique name), shared
//     with no other open whatever its access (share mode 0), marked
//     temporary (the cache keeps it in memory while memory allows) and
//     deleted on close, also when the process ends by any way.
//   pszDir  a directory the copy may be made in, as CreateFileA takes paths.
//   qwSize  the bytes it will hold.
//   peKind  receives where the copy lives; may be null.
// Returns the handle, or INVALID_HANDLE_VALUE with the last error set.
HANDLE CreatePrivateCopy(LPCSTR pszDir, uint64_t qwSize, PrivateCopyKind* peKind);

// Makes the copy's content final where the system can enforce it: a memfd
// is sealed against writes, growth and shrinking through any descriptor
// or mapping. Elsewhere nothing changes (the copy stays reachable only
// through this process's handle). Returns false with the last error set
// when a seal was refused.
bool SealPrivateCopy(HANDLE hCopy);
