// Case folding of names as the pack format does it.
#pragma once

#include <string>

// A copy with the bytes 'A'-'Z' folded to 'a'-'z', byte by byte: a trail
// byte of a double-byte character in that range is folded too, as every
// entry name and key is (CPackFile::MakeLower). Paths compared by
// characters fold with Cp936StrLwr instead.
std::string LowerCopy(const std::string& str);
