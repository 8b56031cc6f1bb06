// The checks an updater built with keys makes before it stops the client or
// writes anything, and after its merge: the update pack is signed with one
// of those keys (the one its statement names) for this product, unchanged
// since, brings the version the command line names, applies to the
// installed version and the release the client holds, and leaves the client
// holding the release it promises.
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"
#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/packsign.h"

// Why an update was refused, as the updater prints it (message M9), beside
// the signature's own codes (PackSigStatus, 0x20000001 and up). Bit 29 marks
// them as the application's: no system error code has it.
enum class UpdateRefusal : DWORD {
  kNoVersionArgument = 0x20000010,   // no version on the command line to hold the signed one against
  kVersionDiffers = 0x20000011,      // the command line names another version than the signed one
  kNotNewer = 0x20000012,            // the signed version is not newer than the installed one or the base
  kDamagedKey = 0x20000013,          // the key built into the updater does not parse
  kOldStatement = 0x20000014,        // a statement of format 1, which names no base
  kNoInstalledVersion = 0x20000015,  // an update for one base, and version.ver is missing, empty or not dotted
  kWrongBase = 0x20000016,           // version.ver is not the version the update applies to
  kClientNotBase = 0x20000017,       // the client does not hold the release the update applies to
  kWrongResult = 0x20000018,         // after the merge the client does not hold the release the update makes
  kUnknownKey = 0x20000019,          // the statement names a key the updater does not trust
  kClientEntryDiffers = 0x2000001A,  // a delta's base entry in the client is not the signed one (a damaged client)
};

// What the checks found: what the publisher signed, and whether the client
// already holds the release the update makes (a run cut off between its
// merge and version.ver: the client is at the new release, version.ver
// still names the base), so that only version.ver is left to write.
struct CCheckedUpdate {
  PackStatement statement;
  bool bMerged = false;
};

// Checks the update pack pszUpdatePack, in this order, reading nothing of
// the pack before its statement is trusted and merging nothing but what was
// checked:
//   1. PACK.sig is read (at most 1 MiB) and parsed strictly; a statement
//      of format 1 (which names no key and no base) is refused;
//   2. the key it names is one of vecKeys (else kUnknownKey), its signature
//      verifies with that key and it names this product;
//   3. the versions (CheckUpdateVersions): the statement brings the version
//      pszVersion names (the command line's, or null) and applies to
//      strInstalled (version.ver's text, "" when there is none): a
//      base-bound update needs version.ver to be its base (as dotted
//      decimal numbers); a full update ("base any") needs a version newer
//      than a dotted version.ver, a missing or garbled one letting it
//      through as the way back for such a client;
//   4. the update file is opened and held (CRealizePack::HoldUpdate: shared
//      with readers only) and its size must be the signed size: a file of
//      another size is refused without a byte of it read;
//   5. exactly that many bytes are copied into a private copy no other
//      process can reach or change (CopyHeldUpdate, in pszCopyDir when not
//      in memory) and digested as they are copied: the digest must be the
//      signed one;
//   6. when the statement names the base release, the client pack
//      pszClientPack with its loose files below pszLooseDir must hold
//      exactly it, or already the release the update makes
//      (checked.bMerged);
//   7. a delta update (but for checked.bMerged) is rebuilt against the
//      client from the private copy into a private copy of the update it
//      was made from, each entry checked against the delta's signed MD5s
//      (CRealizePack::RebuildHeldDelta); the client is only read, and an
//      entry a patch applies to that is not its signed base refuses the
//      update (kClientEntryDiffers).
// Returns 0 when the update may be merged: the copy stays held for
// MergeCheckedUpdate, which opens it (the only parse of the pack's bytes;
// a delta's are read by its rebuild, after steps 1 to 6), and checked holds
// what was found. Otherwise the code to report, nothing
// held any more: a PackSigStatus, an UpdateRefusal, or the system's error
// when the pack cannot be held or copied or the client's release cannot be
// read.
DWORD CheckSignedUpdate(CRealizePack& realize, const char* pszUpdatePack, const char* pszCopyDir,
                        const char* pszVersion, const std::string& strInstalled,
                        const std::vector<PackPublicKey>& vecKeys, const char* pszClientPack, const char* pszLooseDir,
                        CCheckedUpdate& checked);

// Step 3 alone: the statement of format 2 (else kOldStatement) brings the
// version pszVersion names (kNoVersionArgument, kVersionDiffers), and
// applies to strInstalled as step 3 says (kNoInstalledVersion, kWrongBase,
// kNotNewer). Returns 0 or the code.
DWORD CheckUpdateVersions(const PackStatement& statement, const char* pszVersion, const std::string& strInstalled);

// Merges the update CheckSignedUpdate held and passed (for a delta, the
// update rebuilt from it) into the client pack as its statement says: its
// removals too (CRealizePack::MergeHeldUpdate), loose files below the
// current directory; nothing when the client holds its release already
// (checked.bMerged). Then checks that the client
// (with its loose files below pszLooseDir) holds the release the statement
// promises, if it promises one; the entries the merge wrote are read, not
// taken by their tags.
// Returns 0; the merge's error when it failed (the client as it was);
// kWrongResult when the merged client is not the promised release; or the
// system's error when its release cannot be read.
DWORD MergeCheckedUpdate(CRealizePack& realize, const CCheckedUpdate& checked, const char* pszClientPack,
                         const char* pszLooseDir);

// The installed version: version.ver in g_szExeDir without a final line end
// or spaces, "" when it cannot be read.
std::string InstalledVersion();
