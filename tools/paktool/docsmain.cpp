// paktool_docs OUTDIR: writes paktool's manual page (OUTDIR/paktool.1) and
// bash completion (OUTDIR/paktool.bash) at build time, from the application
// paktool itself parses with.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <fstream>
#include <string>

#include "tools/filepacktools_lib/patchloomversion.h"
#include "tools/paktool/app.h"
#include "tools/paktool/docs.h"

namespace {

bool WriteText(const std::string& strPath, const std::string& strText) {
  std::ofstream out(strPath, std::ios::binary | std::ios::trunc);
  out << strText;
  out.close();
  if (out) return true;
  std::fprintf(stderr, "paktool_docs: cannot write %s\n", strPath.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: paktool_docs OUTDIR\n");
    return 2;
  }
  CLI::App app;
  paktool::SetUpApp(app);
  const std::string strDir = argv[1];
  const bool bWritten = WriteText(strDir + "/paktool.1", paktool::ManPage(app, kPatchloomVersion)) &&
                        WriteText(strDir + "/paktool.bash", paktool::BashCompletion(app));
  return bWritten ? 0 : 1;
}
