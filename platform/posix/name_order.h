// Name comparisons that make the file system look like Windows': ASCII
// case-insensitive equality, the NTFS listing order and Win32 wildcards.
// Names are UTF-8 as stored on disk.
#pragma once

#include <string>

// Equal when only ASCII letters differ in case; other bytes compare exactly.
bool EqualsIgnoringAsciiCase(const std::string& strLeft, const std::string& strRight);

// The order in which NTFS lists a directory: names compared as UTF-16 code
// units with a-z folded to A-Z (only ASCII is folded; NTFS folds more, but
// names a program creates and looks for by case differ only in ASCII).
// Names equal under that fold are ordered by their bytes so that the order
// is total and the same on every machine. Bytes that are not valid UTF-8
// take the lone-surrogate units 0xDC80-0xDCFF.
bool NameLess(const std::string& strLeft, const std::string& strRight);

// The primary key of NameLess, for sorting many names without recomputing it.
std::u16string NameSortKey(const std::string& strName);

// Win32 wildcard match: '*' any run of characters, '?' exactly one, letters
// ASCII case-insensitive. "*.*" matches every name, dotted or not.
bool MatchesWildcard(const std::string& strPattern, const std::string& strName);

// True when the text holds '*' or '?'.
bool HasWildcard(const std::string& strText);
