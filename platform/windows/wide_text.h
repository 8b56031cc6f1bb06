// Conversions between the program's code-page-936 (and UTF-8) text and the
// UTF-16 of the Windows "W" functions. Code page 936 is named explicitly,
// so the results do not depend on the machine's ANSI code page.
#pragma once

#include <string>

// Converts nLength bytes of code page 936 to UTF-16. Fails on a byte
// sequence that is not a character of the code page.
bool Cp936ToWide(const char* pszText, size_t nLength, std::wstring& strWide);

// Converts code page 936 for display: an invalid byte sequence becomes the
// code page's default character instead of failing.
std::wstring Cp936ToWideLenient(const char* pszText, size_t nLength);

// Converts UTF-16 to code page 936; a character the code page cannot hold
// becomes '?'.
std::string WideToCp936(const wchar_t* pszWide, size_t nLength);

// Converts text in the machine's ANSI code page (what the C runtime hands
// out, argv for one) to UTF-16.
std::wstring AnsiToWide(const char* pszText);

std::string WideToUtf8(const std::wstring& strWide);
