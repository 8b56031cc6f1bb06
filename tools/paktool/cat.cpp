// paktool cat PACK ENTRY: one entry's plain bytes on standard output, read
// through an entry stream of the library.
#include <cstdio>
#include <memory>

#include "tools/filepacktools_lib/packstream.h"
#include "tools/paktool/commands.h"
#include "tools/paktool/errors.h"
#include "tools/paktool/output.h"
#include "tools/paktool/packpath.h"

namespace paktool {

namespace {

struct CCatOptions {
  std::string strPack;
  std::string strEntry;
};

struct CStreamCloser {
  void operator()(PackStream* pStream) const { CPackFile::StreamClose(pStream); }
};

// StreamOpen puts the root name after the first component of the path it
// is given, so an entry root\rest is opened as .\rest.
std::string StreamPathOf(const std::string& strRoot, const std::string& strName) {
  return "." + strName.substr(strRoot.size());
}

bool CopyToStdout(PackStream* pStream) {
  unsigned char byBuffer[64 * 1024];
  for (;;) {
    const uint32_t dwRead = CPackFile::StreamRead(byBuffer, sizeof(byBuffer), 0, pStream);
    if (dwRead == 0) break;
    if (std::fwrite(byBuffer, 1, dwRead, stdout) != dwRead) return false;
  }
  return std::fflush(stdout) == 0;
}

int RunCat(const CCatOptions& options) {
  const CPackArg packArg = PackArg(options.strPack);
  std::unique_ptr<CPackFile> pPack = OpenPack(packArg);
  if (!pPack) return kExitFailure;
  const CPackItem item = FindPackItem(*pPack, options.strEntry);
  const std::string strSubject = packArg.strShown + ": " + ShownName(item.strName);
  if (item.kind == PackItemKind::kDirectory) {
    ReportFailure(strSubject, "is a directory");
    return kExitFailure;
  }
  if (item.kind != PackItemKind::kEntry) {
    ReportFailure(strSubject, "no such entry in the pack");
    return kExitFailure;
  }
  const std::string strRoot = FieldString(pPack->GetRootName(), kPackRootNameSize);
  std::unique_ptr<PackStream, CStreamCloser> pStream(pPack->StreamOpen(StreamPathOf(strRoot, item.strName).c_str()));
  if (!pStream) {
    ReportFailure(strSubject, "cannot be read or decoded");
    return kExitFailure;
  }
  if (!CopyToStdout(pStream.get())) {
    ReportFailure("standard output", "write failed");
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace

CCommand AddCatCommand(CLI::App& app) {
  auto pOptions = std::make_shared<CCatOptions>();
  CLI::App* pSub = app.add_subcommand("cat", "Write one entry's bytes to standard output.");
  pSub->add_option("PACK", pOptions->strPack, "the pack")->required()->type_name("FILE");
  pSub->add_option("ENTRY", pOptions->strEntry, "the entry, e.g. res/ui/a.txt or ui/a.txt")
      ->required()
      ->type_name("NAME");
  pSub->footer("The bytes are the entry's plain content, decoded when the pack is compressed.");
  return {pSub, [pOptions] { return RunCat(*pOptions); }};
}

}  // namespace paktool
