// What the keyed updater adds before its merge, run as a child process: the
// update held, its bytes copied into a private copy (in memory up to
// kPrivateCopyMemoryLimit, else a file no other process can reach) and
// digested as they are copied, the copy opened as a pack. The merge then
// reads that copy instead of the file.
#include <string>

#include "bench/bench_context.h"
#include "bench/bench_packfile.h"
#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/packsign.h"

namespace bench {

int RunSecureCopy(const std::string& strUpdate, const std::string& strDir) {
  CRealizePack realize;
  uint64_t qwSize = 0;
  if (!realize.HoldUpdate(ProgramPath(strUpdate).c_str()) || !realize.GetHeldUpdateSize(qwSize)) return 1;
  CPackDigester digester;
  const bool bCopied = realize.CopyHeldUpdate(qwSize, ProgramPath(strDir).c_str(),
                                              [&digester](const unsigned char* pbyData, size_t nSize) {
                                                digester.Add(pbyData, nSize);
                                                return true;
                                              });
  PackDigest digest;
  return bCopied && digester.Finish(digest) && digest.qwSize == qwSize ? 0 : 1;
}

}  // namespace bench
