#include "platform/posix/file_info.h"

bool IsReadOnlyMode(mode_t nMode) { return (nMode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0; }

DWORD AttributesFromStat(const struct stat& st) {
  DWORD dwAttributes = 0;
  if (S_ISDIR(st.st_mode)) dwAttributes |= FILE_ATTRIBUTE_DIRECTORY;
  if (IsReadOnlyMode(st.st_mode)) dwAttributes |= FILE_ATTRIBUTE_READONLY;
  return dwAttributes != 0 ? dwAttributes : FILE_ATTRIBUTE_NORMAL;
}

FILETIME FileTimeFromUnix(int64_t nSeconds, long nNanoseconds) {
  const int64_t kUnixEpochAsFileTime = 116444736000000000LL;
  int64_t nTicks = 0;
  // Times before 1601 or past year 30828 do not fit; clamp them.
  if (__builtin_mul_overflow(nSeconds, 10000000, &nTicks) ||
      __builtin_add_overflow(nTicks, nNanoseconds / 100 + kUnixEpochAsFileTime, &nTicks))
    nTicks = nSeconds < 0 ? 0 : INT64_MAX;
  if (nTicks < 0) nTicks = 0;
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(nTicks);
  ft.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(nTicks) >> 32);
  return ft;
}
