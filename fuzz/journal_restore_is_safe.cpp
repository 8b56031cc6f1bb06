// Any bytes lying beside a sound pack as its undo journal, then the pack
// opened (which restores from a journal it trusts). Checks: no crash, leak
// or overrun; the journal is gone after a successful open; the pack never
// grows past what the journal can describe; nothing is written elsewhere.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_packs.h"
#include "fuzz/fuzz_sandbox.h"
#include "tools/filepacktools_lib/crealizepack.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pbyData, size_t nSize) {
  static CFuzzSandbox s_sandbox;
  static const std::string s_strPack = FixedClient();
  s_sandbox.Reset();
  const std::string strJournal(reinterpret_cast<const char*>(pbyData), nSize);
  WriteBytes(s_sandbox.Dir() / "client.pak", s_strPack);
  WriteBytes(s_sandbox.Dir() / "client.pak.journal", strJournal);
  bool bOpened = false;
  {
    CPackFile pack;
    bOpened = pack.Open(s_sandbox.ProgramPath("client.pak"));
  }
  if (bOpened && std::filesystem::exists(s_sandbox.Dir() / "client.pak.journal")) FuzzFail("the journal stayed");
  const std::string strAfter = ReadBytes(s_sandbox.Dir() / "client.pak");
  if (strAfter.size() > s_strPack.size() + nSize) FuzzFail("the pack grew past the journal");
  s_sandbox.CheckNothingOutside(s_strPack.size() + nSize);
  s_sandbox.Leave();
  return 0;
}
