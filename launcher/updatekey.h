// The keys that update packs must be signed with, when the updater was built
// with them (CMake option PATCHLOOM_UPDATE_KEY, a list of PREFIX.pub files
// whose texts are compiled in). A build without a key merges any update
// pack, as the updater always did.
#pragma once

#include <vector>

#include "tools/filepacktools_lib/packsign.h"

enum class UpdateKeyState {
  kNone,     // built without a key: updates are not checked
  kKey,      // vecKeys holds the keys an update may be signed with (one or more)
  kDamaged,  // built with a key text that does not parse: every update is refused
};

UpdateKeyState GetUpdateKeys(std::vector<PackPublicKey>& vecKeys);
