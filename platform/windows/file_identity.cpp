// SameFile: one volume and file index.
#include "platform/file_identity.h"

bool SameFile(HANDLE hA, HANDLE hB, bool& bSame) {
  BY_HANDLE_FILE_INFORMATION infoA;
  BY_HANDLE_FILE_INFORMATION infoB;
  if (!GetFileInformationByHandle(hA, &infoA) || !GetFileInformationByHandle(hB, &infoB)) return false;
  bSame = infoA.dwVolumeSerialNumber == infoB.dwVolumeSerialNumber && infoA.nFileIndexHigh == infoB.nFileIndexHigh &&
          infoA.nFileIndexLow == infoB.nFileIndexLow;
  return true;
}
