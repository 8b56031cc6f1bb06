// Owner-only files on Windows: a new file with the ACL its directory passes
// on. Restricting it further would lock out the administrators who back up
// and restore the user's files.
#include "platform/private_file.h"

HANDLE CreateOwnerOnlyFileA(LPCSTR pszPath) {
  return CreateFileA(pszPath, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
}
