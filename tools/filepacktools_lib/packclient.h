// The release a client installation holds (packmanifest.h): the entries of
// its pack and the loose files its record lists (packloose.h). A client
// that reached a release through updates, holding some entries as loose
// files, and one built from that release, holding them all in its pack,
// hold the same release.
#pragma once

#include <set>
#include <string>

#include "tools/filepacktools_lib/packcontent.h"

// Reads the release of the client pack strPackPath whose loose files lie
// below strLooseDir. The pack is opened for reading (an interrupted merge's
// journal restored first, as every open does). Entries whose stored tags
// have the form of content tags are taken by their tags (the index alone
// tells them); the others, the entries in setRehash, and every recorded
// loose file that exists are read and hashed. A recorded loose file that
// does not exist is not part of the release.
// Returns false, with the last error set and strFailed naming the entry or
// file when there is one, when the pack does not open completely, the
// record cannot be read (ERROR_INVALID_DATA when damaged), or an entry or
// file cannot be read.
bool ReadClientRelease(const std::string& strPackPath, const std::string& strLooseDir,
                       const std::set<std::string>& setRehash, ContentTagMap& mapRelease, std::string& strFailed);

// Whether the client holds the release of digest strDigest (packmanifest.h),
// its release read as ReadClientRelease reads it. Returns false, with the
// last error set and strFailed as there, when the release cannot be read;
// else true with bHolds telling.
bool CheckClientRelease(const std::string& strPackPath, const std::string& strLooseDir, const std::string& strDigest,
                        const std::set<std::string>& setRehash, bool& bHolds, std::string& strFailed);
