// A release of a client's resources, stated as data: the set of its
// entries, each a name, a plain size and the MD5 of the plain bytes. Two
// clients hold the same release exactly when their manifests are equal,
// whether an entry lies in the pack or beside it as a loose file, whatever
// the pack's layout, compression or history. The digest of the manifest
// names a release in a signed statement.
//
// Canonical text, lines ending in LF, nothing else:
//
//   patchloom-release 1
//   <md5> <size> <name>          one line per entry, in ascending unsigned
//                                byte order of the names
//
//   md5   the 32 lower-case hex digits of the MD5 of the plain bytes (the
//         content tag a build with tags stores)
//   size  the plain size in decimal, without leading zeros
//   name  the entry name as the pack holds it (code page 936, backslashes,
//         the root name first), in name text (below)
//
// Name text: the name's bytes, except that '%', every byte below 0x20 and
// 0x7F are written as '%' and two upper-case hex digits ("%25", "%0A").
// Every name has exactly one name text and a name text never holds a line
// end, so the name may hold spaces and stand last on its line.
//
// The release digest is the SHA-256 of the canonical text, written as 64
// lower-case hex digits.
#pragma once

#include <string>

#include "tools/filepacktools_lib/packcontent.h"

constexpr char kReleaseTextHeader[] = "patchloom-release 1\n";
constexpr size_t kReleaseDigestHexSize = 64;

// The name text of an entry name, and back. DecodeNameText is strict: it
// refuses (returns false) a '%' not followed by two upper-case hex digits,
// an escape of a byte that needs none, and a raw byte that needs one.
std::string EncodeNameText(const std::string& strName);
bool DecodeNameText(const std::string& strText, std::string& strName);

// The line of one entry, LF included.
std::string ReleaseLine(const std::string& strName, const CContentTag& tag);

// The canonical text of a release.
std::string ReleaseText(const ContentTagMap& mapRelease);

// The release digest of a manifest. Returns false with ERROR_NOT_SUPPORTED
// when libgcrypt refuses SHA-256.
bool ReleaseDigest(const ContentTagMap& mapRelease, std::string& strDigestHex);

// True when strText has a release digest's form: 64 lower-case hex digits.
bool IsReleaseDigest(const std::string& strText);
