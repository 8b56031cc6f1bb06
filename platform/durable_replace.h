// Replacing a file so that a crash or a power cut at any moment leaves the
// old file or the complete new one under its name, never a part: the new
// contents go into a temporary file beside it, which is flushed, closed and
// then moved over the final name with write-through. On Windows
// MOVEFILE_WRITE_THROUGH makes MoveFileExA return only once the move is on
// disk; the POSIX layer syncs the directories of both names for it.
//
// Use:
//   CScopedHandle hTemp = CreateReplacement(strTemp, CREATE_ALWAYS);
//   if (!hTemp) return false;
//   return CompleteReplacement(WriteAll(hTemp.Get(), ...), hTemp, strTemp, strFinal);
//
// A caller that must move the file later, as one step of a larger commit,
// ends the temporary file with CloseReplacement and moves it with
// MoveReplacement when the time comes.
#pragma once

#include <string>

#include "platform/scoped_handle.h"
#include "platform/win32.h"

// Creates the temporary file strTemp, open for reading and writing and
// shared with no one.
//   dwDisposition  CREATE_ALWAYS: a file of that name (left by an
//                  interrupted run) is overwritten; CREATE_NEW: a name
//                  already taken fails with ERROR_FILE_EXISTS, for callers
//                  that probe for an unused name.
// Returns the handle, or an empty one with the last error set.
CScopedHandle CreateReplacement(const std::string& strTemp, DWORD dwDisposition);

// Ends a replacement. When bWritten (the caller's writes through hTemp all
// succeeded): flushes hTemp, closes it and moves strTemp over strFinal
// (MoveReplacement), so that on true the new contents and the new name are
// both on disk. When bWritten is false or any step fails: hTemp is closed,
// strTemp removed and false returned, with the last error that of the first
// failure (the caller's, when bWritten is false). hTemp is empty afterwards
// in every case.
// Once the move is done the replacement has happened: true, also when the
// move could not be made durable (a failed directory sync), which the last
// error then tells (ERROR_SUCCESS otherwise).
bool CompleteReplacement(bool bWritten, CScopedHandle& hTemp, const std::string& strTemp, const std::string& strFinal);

// The first half: flushes hTemp when bWritten and closes it, so that strTemp
// holds the complete new contents on disk. False, with strTemp removed and
// the first failure's error set (the caller's when bWritten is false).
bool CloseReplacement(bool bWritten, CScopedHandle& hTemp, const std::string& strTemp);

// The second half: moves the closed, flushed strTemp over strFinal with
// MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH. True once the move is
// done: the last error is ERROR_SUCCESS when it is durable, else the error
// of the directory sync that failed (a power cut may still undo the move).
// False, with strTemp removed and the move's error set, when it was not
// done.
bool MoveReplacement(const std::string& strTemp, const std::string& strFinal);
