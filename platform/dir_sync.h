// Making directory changes durable. A creation, rename or deletion is, like
// a write, only sure to survive a power cut once the system was asked to
// put it on disk.
#pragma once

#include "platform/win32.h"

// Makes every change so far to the directory that holds pszPath durable
// (pszPath itself need not exist: after a deletion it no longer does).
//
// POSIX: fsyncs that directory; changes to other directories are not
// covered (a move between two directories needs both synced, as
// MoveFileExA with MOVEFILE_WRITE_THROUGH does).
//
// Windows: opens the directory for writing and flushes it. NTFS keeps every
// metadata change of a volume (creations, renames, deletions) in one
// ordered log; flushing a directory, like a move with
// MOVEFILE_WRITE_THROUGH, writes that log, so every earlier directory change
// on the volume becomes durable with it. Until then a plain DeleteFileA or
// MoveFileExA can be lost in a power cut. A file system that cannot flush a
// directory fails the call.
//
// Returns FALSE with the last error set (a directory that does not exist,
// say).
BOOL FlushDirectoryOf(LPCSTR pszPath);
