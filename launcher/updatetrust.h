// The checks an updater built with a key makes before it stops the client or
// writes anything: the update pack is signed with that key for this product,
// unchanged since, brings the version the command line names, and that
// version is newer than the installed one.
#pragma once

#include "platform/win32.h"
#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/packsign.h"

// Why an update was refused, as the updater prints it (message M9), beside
// the signature's own codes (PackSigStatus, 0x20000001 and up). Bit 29 marks
// them as the application's: no system error code has it.
enum class UpdateRefusal : DWORD {
  kNoVersionArgument = 0x20000010,  // no version on the command line to hold the signed one against
  kVersionDiffers = 0x20000011,     // the command line names another version than the signed one
  kNotNewer = 0x20000012,           // the signed version is not newer than version.ver (a replay or a downgrade)
  kDamagedKey = 0x20000013,         // the key built into the updater does not parse
};

// Holds the update pack in realize (CRealizePack::HoldUpdate), digests the
// held bytes, and checks them against PACK.sig, the key, pszVersion (the
// command line's version, or null) and strInstalled (version.ver's text, ""
// when there is none). A version.ver that is not a dotted version lets any
// signed version through.
// Returns 0 when the update may be merged (it stays held for
// MergeHeldUpdate); otherwise the code to report: a PackSigStatus, an
// UpdateRefusal, or the system's error when the pack cannot be held or read.
DWORD CheckSignedUpdate(CRealizePack& realize, const char* pszUpdatePack, const char* pszVersion,
                        const std::string& strInstalled, const PackPublicKey& key);

// The installed version: version.ver in g_szExeDir without a final line end
// or spaces, "" when it cannot be read.
std::string InstalledVersion();
