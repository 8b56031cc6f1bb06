// consumer PACK DIR ENTRY: opens a pack, lists a directory of it and reads an
// entry through a stream, with the installed pack library.
//
//   library 1.0.0
//   res.pak: root res
//   dir   res\ui\img           (FindFirst/FindNext with the pattern "*": the
//   file  res\ui\title.txt     directory's records in table order, full names)
//   ui/title.txt: 19 bytes
//   <the entry's bytes>
//
// Paths are Win32 paths in code page 936: '/' is taken as '\'. Exit status 0,
// or 1 with a message on standard error.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/packstream.h"
#include "tools/filepacktools_lib/patchloomversion.h"

namespace {

std::string Win32Path(std::string strPath) {
  for (char& ch : strPath) {
    if (ch == '/') ch = '\\';
  }
  return strPath;
}

int Fail(const std::string& strWhat) {
  std::fprintf(stderr, "consumer: %s (error %lu)\n", strWhat.c_str(), static_cast<unsigned long>(GetLastError()));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: consumer PACK DIR ENTRY\n");
    return 2;
  }
  std::printf("library %s\n", PatchloomVersion());

  CPackFile pack;
  if (!pack.OpenForReading(Win32Path(argv[1]))) return Fail(std::string("cannot open ") + argv[1]);
  std::printf("%s: root %s\n", argv[1], FieldString(pack.GetRootName(), kPackRootNameSize).c_str());

  const std::string strDir = Win32Path(argv[2]);
  for (PackDirRecord* pRecord = pack.FindFirst(strDir.c_str(), "*"); pRecord; pRecord = pack.FindNext()) {
    const char* pszKind = pRecord->nKind == kPackDirKindDir ? "dir " : "file";
    std::printf("%s  %s\n", pszKind, FieldString(pRecord->szFullPath, kPackNameSize).c_str());
  }

  // A stream path's first component stands for the pack's root name.
  PackStream* pStream = pack.StreamOpen(Win32Path(argv[3]).c_str());
  if (!pStream) return Fail(std::string("cannot read the entry ") + argv[3]);
  std::vector<char> vecBytes(pStream->dwSize);
  const uint32_t dwRead = CPackFile::StreamRead(vecBytes.data(), static_cast<uint32_t>(vecBytes.size()), 0, pStream);
  CPackFile::StreamClose(pStream);
  std::printf("%s: %u bytes\n", argv[3], static_cast<unsigned>(dwRead));
  std::fwrite(vecBytes.data(), 1, dwRead, stdout);
  return 0;
}
