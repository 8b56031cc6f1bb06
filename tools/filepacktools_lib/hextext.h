// Bytes as lower-case hexadecimal text, the form digests and keys take in
// content tags and in the signing files.
#pragma once

#include <cstddef>
#include <string>

// Writes the 2 x nSize hex digits of the bytes to pchOut (no terminator).
void WriteHex(const void* pData, size_t nSize, char* pchOut);

// The 2 x nSize hex digits of the bytes.
std::string HexText(const void* pData, size_t nSize);

// Reads exactly 2 x nSize lower-case hex digits into pOut. Returns false,
// leaving pOut unspecified, for any other length or character (upper case
// too: each value has one spelling, so a signed text has one form).
bool ParseHex(const std::string& strText, void* pOut, size_t nSize);
