// File identity: one volume and file index.
#include "platform/file_identity.h"

bool GetFileIdentity(HANDLE hFile, CFileIdentity& identity) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(hFile, &info)) return false;
  identity.qwVolume = info.dwVolumeSerialNumber;
  identity.qwIndex = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}
