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
// The format versions: keys and statements are written in format 2 and
// read in formats 1 and 2.
constexpr char kSignFormatVersion[] = "1";
constexpr char kKeyFormatVersion[] = "2";
constexpr char kStatementFormatVersion[] = "2";

// No key file comes near this size; a larger one is refused unread.
constexpr size_t kMaxSignFileSize = 4096;
// A statement lists the entries its update removes, so it may be larger;
// still, no statement comes near this size.
constexpr size_t kMaxStatementFileSize = 1 << 20;

// How a first line relates to the kind a reader wants.
enum class HeaderMatch {
  kMatch,         // that kind, the format version asked for
  kOtherVersion,  // that kind, another format version
  kOtherKind,     // another of our kinds
  kForeign,       // not one of our files
};

// Compares the first line of strText (up to its first LF, or all of it)
// with "<pszKind> <pszVersion>".
HeaderMatch MatchHeader(const std::string& strText, const char* pszKind, const char* pszVersion = kSignFormatVersion);

// The header line for a kind, LF included.
std::string HeaderLine(const char* pszKind, const char* pszVersion = kSignFormatVersion);

// A field line for a name and value, LF included.
std::string FieldLine(const char* pszName, const std::string& strValue);

// The fields of a file after its header line.
struct CSignFields {
  std::map<std::string, std::string> mapValues;
  std::vector<std::string> vecRepeated;  // the values of the repeated field, in file order
  size_t nLastStart = 0;                 // offset of the line of the stopping field
};

// Which fields a file has: each of vecNames once, each of vecOptional at
// most once, pszRepeated (when non-null) any number of times.
struct CFieldRules {
  std::vector<const char*> vecNames;
  std::vector<const char*> vecOptional;
  const char* pszRepeated = nullptr;
};

// Reads the field lines after the first line of strText by the rules.
// When pszStop is non-null, the line of that name ends the fields: what
// follows it is kTrailingData, and a text that ends without it is
// kTruncated.
// Returns kNone, or the first fault with strField naming the field it is
// about (when there is one).
SigFileFault ReadSignFields(const std::string& strText, const CFieldRules& rules, const char* pszStop,
                            CSignFields& fields, std::string& strField);
