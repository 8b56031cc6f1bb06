// Code page 936 (GBK) helpers used on every platform in place of the C
// runtime's multibyte functions, whose behaviour differs between systems.
//
// A byte 0x81-0xFE is a lead byte and forms one character with the byte after
// it, unless that byte is the terminating NUL. Every other byte is a character
// of its own. A trail byte may be 0x40-0x7E, so it can look like '\\', 'A' or
// '|': the helpers below walk the string character by character and never
// take a trail byte for an ASCII character.
#pragma once

#include <string>

bool Cp936IsLeadByte(unsigned char byChar);

// First / last character equal to the single-byte character chFind, or null.
// Like strchr, searching for '\0' finds the terminator.
const char* Cp936StrChr(const char* pszText, char chFind);
char* Cp936StrChr(char* pszText, char chFind);
const char* Cp936StrRChr(const char* pszText, char chFind);
char* Cp936StrRChr(char* pszText, char chFind);

// Folds A-Z to a-z in place, leaving trail bytes alone; returns pszText.
char* Cp936StrLwr(char* pszText);

// First occurrence of pszFind that starts and ends on character boundaries
// of pszText, or null. An empty pszFind matches at pszText.
const char* Cp936StrStr(const char* pszText, const char* pszFind);
char* Cp936StrStr(char* pszText, const char* pszFind);

// Compares character by character with A-Z folded to a-z (as _stricmp does,
// so '_' sorts before letters); trail bytes compare exactly. Returns <0, 0
// or >0. A null pointer sorts before every string.
int Cp936StrICmp(const char* pszLeft, const char* pszRight);

// The length of the longest prefix of strText of at most nMax bytes that
// does not split a double-byte character: where to cut a name that must fit
// a fixed buffer.
size_t Cp936FittingPrefix(const std::string& strText, size_t nMax);

// Converts a code-page-936 string to UTF-8. Fails (returns false) on a byte
// sequence that is not a character of the code page.
bool Cp936ToUtf8(const std::string& strCp936, std::string& strUtf8);

// Converts UTF-8 to code page 936. A character the code page cannot hold
// becomes '?'. Invalid UTF-8 also becomes '?' (one per byte) unless
// bFailOnInvalid is set, in which case the conversion fails.
bool Utf8ToCp936(const std::string& strUtf8, std::string& strCp936, bool bFailOnInvalid = false);
