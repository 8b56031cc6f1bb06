// The character set of the user's locale, and conversions between character
// sets that never fail: what cannot be converted becomes '?'.
#pragma once

#include <string>

// The character set of the locale the environment selects (LC_ALL,
// LC_CTYPE, LANG), as an iconv name. The C and POSIX locales, whose set is
// ASCII, count as UTF-8: ASCII cannot carry the program's Chinese text, and
// file names and terminals there are UTF-8 in practice. Read once, without
// changing the process's locale.
const std::string& LocaleCharset();

// Converts strIn from the set pszFrom to the set pszTo (iconv names). A
// character that is invalid in the source or missing in the target becomes
// one '?' (one per byte for a source set other than CP936 and UTF-8). When
// iconv lacks one of the sets, the text is returned unchanged.
std::string ConvertCharset(const std::string& strIn, const char* pszTo, const char* pszFrom);
