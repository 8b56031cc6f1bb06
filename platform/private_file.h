// Files that only their owner may read, for secrets such as a signing key.
// Implemented per platform (posix/file_create.cpp, windows/private_file.cpp).
#pragma once

#include "platform/win32.h"

// Creates a new file for writing, not shared while open, that only its
// owner may read and write: mode 0600 on POSIX, given at creation so that
// no other user can open it even for a moment; on Windows the default ACL
// the directory passes on (a user's own directories grant only the user,
// administrators and the system).
//   pszPath  the file, as CreateFileA takes it.
// Returns the handle, or INVALID_HANDLE_VALUE with the last error set:
// ERROR_FILE_EXISTS when the file exists (it is never replaced), else what
// CreateFileA would report.
HANDLE CreateOwnerOnlyFileA(LPCSTR pszPath);
