// Keeping the client pack healthy: every merge leaves holes where entries
// were replaced by larger ones, and only a rewrite gives them back.
#include "launcher/updatedriver.h"
#include "tools/filepacktools_lib/crealizepack.h"

namespace {

// A compaction costs about a copy of the pack, so it waits until a good
// part of the pack is holes.
constexpr double kCompactHoleShare = 0.25;

}  // namespace

bool CompactClientPack(const char* pszClientPack) {
  double dHoles = 0;
  {
    CPackFile pack;
    if (!pack.OpenForReading(pszClientPack)) return false;
    dHoles = pack.GetHoleShare();
  }
  return dHoles > kCompactHoleShare && g_realizePack.CompactPack(pszClientPack);
}
