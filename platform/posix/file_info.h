// Win32 views of POSIX file metadata.
#pragma once

#include <sys/stat.h>

#include "platform/posix/win32_posix.h"

// No write permission bit at all stands for FILE_ATTRIBUTE_READONLY, which
// Windows enforces even for administrators.
bool IsReadOnlyMode(mode_t nMode);

// DIRECTORY and READONLY as they apply, NORMAL for a file with neither.
DWORD AttributesFromStat(const struct stat& st);

// 100-ns intervals since 1601-01-01 UTC.
FILETIME FileTimeFromUnix(int64_t nSeconds, long nNanoseconds);
