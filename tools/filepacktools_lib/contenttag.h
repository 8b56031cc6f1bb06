// Content tags: an entry's tag is the lower-case hexadecimal MD5 of its
// plain bytes, so that equal tags mean equal content and a merge replaces
// exactly the entries that changed.
#pragma once

#include <cstddef>

// Writes the 32 hex digits into pszTag, which holds exactly 32 bytes (a tag
// field; no terminator is written). Returns false, leaving pszTag as it
// was, when the digest library refuses MD5 (as it does in FIPS mode).
bool MakeContentTag(const void* pData, size_t nSize, char* pszTag);
