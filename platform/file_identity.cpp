#include "platform/file_identity.h"

bool SameFile(HANDLE hA, HANDLE hB, bool& bSame) {
  CFileIdentity identityA;
  CFileIdentity identityB;
  if (!GetFileIdentity(hA, identityA) || !GetFileIdentity(hB, identityB)) return false;
  bSame = identityA == identityB;
  return true;
}
