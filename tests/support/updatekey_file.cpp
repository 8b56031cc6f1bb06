// The key of the updater the trust tests run: read at run time from
// update-key.pub beside the program, so that each test signs with keys of
// its own. A missing or damaged file refuses every update. Linked into a
// test build of the updater only, never into Patchloom.
#include "launcher/updatedriver.h"
#include "launcher/updatekey.h"

UpdateKeyState GetUpdateKey(PackPublicKey& key) {
  const std::string strPath = std::string(g_szExeDir) + "\\update-key.pub";
  return ReadPackPublicKey(strPath, key) == PackKeyStatus::kOk ? UpdateKeyState::kKey : UpdateKeyState::kDamaged;
}
