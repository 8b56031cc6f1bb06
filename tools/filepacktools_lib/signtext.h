// The line format shared by the signing files (see packsign.h): a first
// line "<kind> <format version>", then field lines "<name> <value>", every
// line ending in LF.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "tools/filepacktools_lib/packsign.h"

// The kinds of file, as their first lines name them.
constexpr char kSecretKeyKind[] = "patchloom-ed25519-secret-key";
constexpr char kPublicKeyKind[] = "patchloom-ed25519-public-key";
constexpr char kStatementKind[] = "patchloom-update-statement";
constexpr char kSignFormatVersion[] = "1";

// No signing file comes near this size; a larger one is refused unread.
constexpr size_t kMaxSignFileSize = 4096;

// How a first line relates to the kind a reader wants.
enum class HeaderMatch {
  kMatch,         // that kind, format version kSignFormatVersion
  kOtherVersion,  // that kind, another format version
  kOtherKind,     // another of our kinds
  kForeign,       // not one of our files
};

// Compares the first line of strText (up to its first LF, or all of it)
// with "<pszKind> 1".
HeaderMatch MatchHeader(const std::string& strText, const char* pszKind);

// The header line for a kind, LF included.
std::string HeaderLine(const char* pszKind);

// A field line for a name and value, LF included.
std::string FieldLine(const char* pszName, const std::string& strValue);

// The fields of a file after its header line.
struct CSignFields {
  std::map<std::string, std::string> mapValues;
  size_t nLastStart = 0;  // offset of the line of the stopping field
};

// Reads the field lines after the first line of strText. Every name must
// be one of vecNames, given once; all must be present. When pszStop is
// non-null, the line of that name ends the fields: what follows it is
// kTrailingData, and a text that ends without it is kTruncated.
// Returns kNone, or the first fault with strField naming the field it is
// about (when there is one).
SigFileFault ReadSignFields(const std::string& strText, const std::vector<const char*>& vecNames, const char* pszStop,
                            CSignFields& fields, std::string& strField);
