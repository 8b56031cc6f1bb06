// Any bytes lying beside a sound pack as its undo journal, then the pack
// opened (which restores from a journal it trusts). A journal is applied
// only to the file it was made for, so the input is taken as made for this
// sandbox's pack (ForPack), unless it lists files beside the pack. Checks:
// no crash, leak or overrun; the journal is gone after a successful open;
// the pack never grows past what the journal can describe; nothing is
// written elsewhere.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_packs.h"
#include "fuzz/fuzz_sandbox.h"
#include "platform/file_identity.h"
#include "platform/scoped_handle.h"
#include "tools/filepacktools_lib/crealizepack.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pbyData, size_t nSize) {
  static CFuzzSandbox s_sandbox;
  static const std::string s_strPack = FixedClient();
  s_sandbox.Reset();
  WriteBytes(s_sandbox.Dir() / "client.pak", s_strPack);
  CFileIdentity identity;
  {
    CScopedHandle hPack(CreateFileA(s_sandbox.ProgramPath("client.pak").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hPack || !GetFileIdentity(hPack.Get(), identity)) FuzzFail("the pack cannot be asked its identity");
  }
  const std::string strJournal = ForPack(std::string(reinterpret_cast<const char*>(pbyData), nSize), identity);
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
