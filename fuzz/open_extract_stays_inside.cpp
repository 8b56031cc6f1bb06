// Any bytes opened as a pack, then everything a reader can do with it:
// enumerate every directory, stream every entry, extract the whole tree
// and every single entry. Checks: no crash, leak or overrun (the
// sanitizers), no allocation beyond what the stored bytes can decode to,
// and nothing written outside the extraction directory.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_sandbox.h"
#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/packcodec.h"

namespace {

void Enumerate(CPackFile& pack) {
  const std::string strRoot = FieldString(pack.GetRootName(), kPackRootNameSize);
  for (const auto& item : pack.GetDirMap()) {
    // FindFirst takes the path below the root, never an empty one (the
    // root itself cannot be listed; a debug build asserts).
    const std::string strRel = item.first.size() > strRoot.size() ? item.first.substr(strRoot.size() + 1) : "";
    if (strRel.empty()) continue;
    for (const char* pszType : {"*", "*.*", ".", "*.txt"}) {
      for (PackDirRecord* pRecord = pack.FindFirst(strRel.c_str(), pszType); pRecord; pRecord = pack.FindNext()) {
      }
    }
  }
}

void StreamAll(CPackFile& pack) {
  for (const auto& item : *pack.GetEntryMap()) {
    const size_t nSep = item.first.find('\\');
    if (nSep == std::string::npos) continue;
    const std::string strPath = "x" + item.first.substr(nSep);
    PackStream* pStream = pack.StreamOpen(strPath.c_str());
    char byBuffer[512];
    while (CPackFile::StreamRead(byBuffer, sizeof(byBuffer), 0, pStream) > 0) {
    }
    CPackFile::StreamSeek(pStream, 1, 0);
    CPackFile::StreamSeek(pStream, 0, 2);
    CPackFile::StreamClose(pStream);
  }
}

void ExtractAll(CPackFile& pack, const CFuzzSandbox& sandbox) {
  const std::string strRoot = FieldString(pack.GetRootName(), kPackRootNameSize);
  if (strRoot.empty()) return;  // every extraction requires a root name
  const std::string strSingle = sandbox.ProgramPath("single.bin");
  pack.ExtractPath(strRoot.c_str(), 1, strSingle.c_str());
  for (const auto& item : *pack.GetEntryMap()) {
    if (!item.first.empty()) pack.ExtractFile(item.first.c_str(), strSingle.c_str());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pbyData, size_t nSize) {
  static CFuzzSandbox s_sandbox;
  s_sandbox.Reset();
  WriteBytes(s_sandbox.Dir() / "in.pak", std::string(reinterpret_cast<const char*>(pbyData), nSize));
  {
    CPackFile pack;
    if (pack.Open(s_sandbox.ProgramPath("in.pak"))) {
      Enumerate(pack);
      StreamAll(pack);
      ExtractAll(pack, s_sandbox);
    }
  }
  s_sandbox.CheckNothingOutside(Lzma86MaxPlainSize(static_cast<uint32_t>(nSize)) + nSize);
  s_sandbox.Leave();
  return 0;
}
