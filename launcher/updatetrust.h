// The checks an updater built with a key makes before it stops the client or
// writes anything, and after its merge: the update pack is signed with that
// key for this product, unchanged since, brings the version the command line
// names, applies to the installed version and the release the client holds,
// and leaves the client holding the release it promises.
#pragma once

#include <string>

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
};

// What the checks found: what the publisher signed, and whether the client
// already holds the release the update makes (a run cut off between its
// merge and version.ver: the client is at the new release, version.ver
// still names the base), so that only version.ver is left to write.
struct CCheckedUpdate {
  PackStatement statement;
  bool bMerged = false;
};

// Holds the update pack in realize (CRealizePack::HoldUpdate), digests the
// held bytes, and checks them against PACK.sig and the key; then the
// statement against pszVersion (the command line's version, or null),
// strInstalled (version.ver's text, "" when there is none) and the release
// the client pack pszClientPack holds with its loose files below
// pszLooseDir:
//   - a base-bound update needs version.ver to be its base (as dotted
//     decimal numbers) and, when the statement names the base release, the
//     client to hold exactly it (or already the release the update makes:
//     checked.bMerged);
//   - a full update ("base any") needs a version newer than a dotted
//     version.ver; a missing or garbled one lets it through, as the way back
//     for such a client.
// Returns 0 when the update may be merged (it stays held for
// MergeHeldUpdate, and checked holds what was found); otherwise the code
// to report: a PackSigStatus, an UpdateRefusal, or the system's error when
// the pack cannot be held or read or the client's release cannot be read.
DWORD CheckSignedUpdate(CRealizePack& realize, const char* pszUpdatePack, const char* pszVersion,
                        const std::string& strInstalled, const PackPublicKey& key, const char* pszClientPack,
                        const char* pszLooseDir, CCheckedUpdate& checked);

// Merges the update CheckSignedUpdate held and passed into the client pack
// as its statement says: its removals too (CRealizePack::MergeHeldUpdate),
// loose files below the current directory; nothing when the client holds
// its release already (checked.bMerged). Then checks that the client
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
