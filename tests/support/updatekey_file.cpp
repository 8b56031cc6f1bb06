// The keys of the updater the trust tests run: read at run time from
// update-key.pub beside the program, then update-key-2.pub, update-key-3.pub
// and so on while they exist, so that each test signs with keys of its own
// and can trust more than one. A missing or damaged update-key.pub refuses
// every update. Linked into a test build of the updater only, never into
// Patchloom.
#include <string>

#include "launcher/updatedriver.h"
#include "launcher/updatekey.h"

UpdateKeyState GetUpdateKeys(std::vector<PackPublicKey>& vecKeys) {
  vecKeys.clear();
  const std::string strDir = std::string(g_szExeDir) + "\\";
  for (int nKey = 1;; ++nKey) {
    const std::string strPath = strDir + (nKey == 1 ? "update-key.pub" : "update-key-" + std::to_string(nKey) + ".pub");
    PackPublicKey key;
    const PackKeyStatus status = ReadPackPublicKey(strPath, key);
    if (status == PackKeyStatus::kUnreadable && nKey > 1) break;
    if (status != PackKeyStatus::kOk) return UpdateKeyState::kDamaged;
    vecKeys.push_back(key);
  }
  return UpdateKeyState::kKey;
}
