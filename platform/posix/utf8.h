// Strict UTF-8 decoding shared by the code-page conversion and name ordering.
#pragma once

#include <cstddef>

// Decodes the sequence at pbyText (nAvail bytes available). Returns its length
// (1-4) and stores the code point, or returns 0 for an invalid, overlong,
// surrogate or truncated sequence.
size_t DecodeUtf8(const unsigned char* pbyText, size_t nAvail, char32_t* pchOut);
