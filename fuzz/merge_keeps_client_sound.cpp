// Any bytes merged as an update into a fixed, sound client pack. Checks:
// no crash, leak or overrun; afterwards the client opens and passes every
// check of the format (VerifyPack); a refused or failed merge leaves it
// exactly as it was; loose files land only below the starting directory.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz/fuzz_packs.h"
#include "fuzz/fuzz_sandbox.h"
#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/packcodec.h"
#include "tools/filepacktools_lib/packverify.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pbyData, size_t nSize) {
  static CFuzzSandbox s_sandbox;
  static const std::string s_strClient = FixedClient();
  s_sandbox.Reset();
  WriteBytes(s_sandbox.Dir() / "client.pak", s_strClient);
  WriteBytes(s_sandbox.Dir() / "update.pak", std::string(reinterpret_cast<const char*>(pbyData), nSize));
  std::filesystem::create_directory(s_sandbox.Dir() / "work");
  std::filesystem::current_path(s_sandbox.Dir() / "work");
  int nResult = 0;
  {
    CRealizePack realize;
    nResult = realize.MergePack(s_sandbox.ProgramPath("update.pak").c_str(),
                                s_sandbox.ProgramPath("client.pak").c_str());
  }
  {
    CPackFile client;
    if (!client.Open(s_sandbox.ProgramPath("client.pak"))) FuzzFail("the client no longer opens");
  }
  std::vector<std::string> vecProblems;
  if (!VerifyPack(s_sandbox.ProgramPath("client.pak").c_str(), vecProblems)) FuzzFail("the client cannot be read");
  for (const std::string& strProblem : vecProblems) std::fprintf(stderr, "client: %s\n", strProblem.c_str());
  if (!vecProblems.empty()) FuzzFail("the merged client breaks the format");
  if (nResult == 0 && ReadBytes(s_sandbox.Dir() / "client.pak") != s_strClient) FuzzFail("a failed merge changed the client");
  s_sandbox.CheckNothingOutside(Lzma86MaxPlainSize(static_cast<uint32_t>(nSize)) + nSize + s_strClient.size());
  s_sandbox.Leave();
  return 0;
}
