// Version texts compared as dotted decimal numbers, so that an updater can
// tell a newer update from a replayed or older one.
#pragma once

#include <cstddef>
#include <string>

// True when strText is a dotted decimal version: one or more runs of ASCII
// digits separated by single dots ("7", "1.02", "2.10.3"); nothing else, no
// spaces, signs, empty components or dots at either end.
bool IsDottedVersion(const std::string& strText);

// True when strText may name a release in a signed statement: a dotted
// decimal version of at most kMaxVersionComponents components of at most
// kMaxVersionDigits digits each ("1", "1.02", "2.0.13"). Publishers' tools
// sign only such versions, so every signed version compares.
constexpr size_t kMaxVersionComponents = 8;
constexpr size_t kMaxVersionDigits = 9;
bool IsReleaseVersion(const std::string& strText);

enum class VersionOrder {
  kOlder,      // strVersion comes before strBase
  kSame,       // equal as numbers
  kNewer,      // strVersion comes after strBase
  kNotDotted,  // either text is not a dotted decimal version
};

// Compares strVersion with strBase component by component, each as a
// decimal number of any length: "1.10" is newer than "1.9", and leading
// zeros do not count ("1.02" is the same as "1.2"). A missing component
// counts as 0, so "1.2" and "1.2.0" are the same version and "1.2.1" is
// newer than both. Texts are taken as they are: a caller reading a file
// strips its line end first.
// Returns the order, or kNotDotted when either text fails IsDottedVersion.
VersionOrder CompareVersions(const std::string& strVersion, const std::string& strBase);
