// The statement of a release update, made from the diff that made the
// update: what 'paktool diff --from --to' writes beside the update for
// 'paktool sign' (formats in packsign.h).
#pragma once

#include <string>

#include "tools/filepacktools_lib/packdiff.h"
#include "tools/filepacktools_lib/packsign.h"

// Fills statement for the update pack at strUpdatePath, written from diff:
// the pack's size and digest, strProduct, the versions, the release digest
// of diff's new side and, for a base-bound update, of its old side with
// the entries the new side lacks as removals. strBase kAnyBase makes a full
// update (no base release, no removals: a full update removes what it
// lacks). The texts are taken as given: CheckStatement tells whether the
// statement may be written.
// Returns false, with the last error set, when the pack cannot be read or
// libgcrypt refuses a digest (ERROR_NOT_SUPPORTED).
bool MakeUpdateStatement(const CReleaseDiff& diff, const std::string& strUpdatePath, const std::string& strProduct,
                         const std::string& strBase, const std::string& strVersion, PackStatement& statement);
