// The key that update packs must be signed with, when the updater was built
// with one (CMake option PATCHLOOM_UPDATE_KEY, the path of a PREFIX.pub file
// whose text is compiled in). A build without a key merges any update pack,
// as the updater always did.
#pragma once

#include "tools/filepacktools_lib/packsign.h"

enum class UpdateKeyState {
  kNone,     // built without a key: updates are not checked
  kKey,      // key holds the key updates must be signed with
  kDamaged,  // built with a key text that does not parse: every update is refused
};

UpdateKeyState GetUpdateKey(PackPublicKey& key);
