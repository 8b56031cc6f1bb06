// Content tags: an entry's tag is the lower-case hexadecimal MD5 of its
// plain bytes, so that equal tags mean equal content and a merge replaces
// exactly the entries that changed.
#pragma once

#include <cstddef>

// Writes the 32 hex digits into pszTag, which holds exactly 32 bytes (a tag
// field; no terminator is written). Returns false, leaving pszTag as it
// was, when the digest library refuses MD5 (as it does in FIPS mode).
bool MakeContentTag(const void* pData, size_t nSize, char* pszTag);

// True when the 32 bytes of a tag field have a content tag's form: 32
// lower-case hexadecimal digits. (Whether they are the MD5 of the entry's
// bytes only reading the entry tells.)
bool IsContentTag(const char* pszTag);
