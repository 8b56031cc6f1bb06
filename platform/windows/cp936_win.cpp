// Code page 936 conversions over the Win32 code-page tables. POSIX builds
// provide the same two functions over iconv (posix/cp936_iconv.cpp).
#include <string>

#include "platform/cp936.h"
#include "platform/posix/utf8.h"
#include "platform/windows/wide_text.h"

bool Cp936ToUtf8(const std::string& strCp936, std::string& strUtf8) {
  std::wstring strWide;
  if (!Cp936ToWide(strCp936.data(), strCp936.size(), strWide)) return false;
  strUtf8 = WideToUtf8(strWide);
  return true;
}

bool Utf8ToCp936(const std::string& strUtf8, std::string& strCp936, bool bFailOnInvalid) {
  // Decoded here rather than by MultiByteToWideChar, which would fold all
  // invalid bytes of a sequence into one replacement character: each
  // invalid byte becomes its own '?', as on the POSIX build.
  std::wstring strWide;
  strWide.reserve(strUtf8.size());
  const unsigned char* pbyText = reinterpret_cast<const unsigned char*>(strUtf8.data());
  for (size_t nPos = 0; nPos < strUtf8.size();) {
    char32_t ch = 0;
    size_t nLength = DecodeUtf8(pbyText + nPos, strUtf8.size() - nPos, &ch);
    if (nLength == 0) {
      if (bFailOnInvalid) return false;
      strWide.push_back(L'?');
      ++nPos;
      continue;
    }
    // Code page 936 holds nothing beyond the Basic Multilingual Plane.
    strWide.push_back(ch > 0xFFFF ? L'?' : static_cast<wchar_t>(ch));
    nPos += nLength;
  }
  strCp936 = WideToCp936(strWide.data(), strWide.size());
  return true;
}
