#include "platform/windows/wide_text.h"

#include <climits>

#include "platform/win32.h"

namespace {

const UINT kCodePage936 = 936;

// MultiByteToWideChar and WideCharToMultiByte take int lengths.
bool FitsInt(size_t nLength) { return nLength <= static_cast<size_t>(INT_MAX); }

// Windows maps the single byte 0xFF to a private-use character; it is not a
// character of GBK, and the POSIX build rejects it too.
bool HasStrayFF(const char* pszText, size_t nLength) {
  for (size_t i = 0; i < nLength; ++i) {
    unsigned char by = static_cast<unsigned char>(pszText[i]);
    if (by >= 0x81 && by <= 0xFE) {
      ++i;  // a lead byte: the next byte is its trail, whatever its value
    } else if (by == 0xFF) {
      return true;
    }
  }
  return false;
}

std::string FromWide(UINT nCodePage, DWORD dwFlags, const wchar_t* pszWide, size_t nLength) {
  if (nLength == 0 || !FitsInt(nLength)) return std::string();
  // Only code page 936 takes a default character; CP_UTF8 refuses one.
  const char* pszDefault = nCodePage == CP_UTF8 ? nullptr : "?";
  int nWide = static_cast<int>(nLength);
  int nBytes = WideCharToMultiByte(nCodePage, dwFlags, pszWide, nWide, nullptr, 0, pszDefault, nullptr);
  if (nBytes <= 0) return std::string();
  std::string strOut(static_cast<size_t>(nBytes), '\0');
  WideCharToMultiByte(nCodePage, dwFlags, pszWide, nWide, &strOut[0], nBytes, pszDefault, nullptr);
  return strOut;
}

}  // namespace

bool Cp936ToWide(const char* pszText, size_t nLength, std::wstring& strWide) {
  strWide.clear();
  if (nLength == 0) return true;
  if (!FitsInt(nLength) || HasStrayFF(pszText, nLength)) return false;
  int nBytes = static_cast<int>(nLength);
  int nWide = MultiByteToWideChar(kCodePage936, MB_ERR_INVALID_CHARS, pszText, nBytes, nullptr, 0);
  if (nWide <= 0) return false;
  strWide.resize(static_cast<size_t>(nWide));
  return MultiByteToWideChar(kCodePage936, MB_ERR_INVALID_CHARS, pszText, nBytes, &strWide[0], nWide) == nWide;
}

std::wstring Cp936ToWideLenient(const char* pszText, size_t nLength) {
  if (nLength == 0 || !FitsInt(nLength)) return std::wstring();
  int nBytes = static_cast<int>(nLength);
  int nWide = MultiByteToWideChar(kCodePage936, 0, pszText, nBytes, nullptr, 0);
  if (nWide <= 0) return std::wstring();
  std::wstring strWide(static_cast<size_t>(nWide), L'\0');
  MultiByteToWideChar(kCodePage936, 0, pszText, nBytes, &strWide[0], nWide);
  return strWide;
}

std::wstring AnsiToWide(const char* pszText) {
  int nWide = MultiByteToWideChar(CP_ACP, 0, pszText, -1, nullptr, 0);
  if (nWide <= 1) return std::wstring();
  std::wstring strWide(static_cast<size_t>(nWide), L'\0');
  MultiByteToWideChar(CP_ACP, 0, pszText, -1, &strWide[0], nWide);
  strWide.resize(static_cast<size_t>(nWide) - 1);
  return strWide;
}

std::string WideToCp936(const wchar_t* pszWide, size_t nLength) {
  // No best fit: a character the code page lacks becomes '?' rather than a
  // look-alike (é would otherwise become e), as on the POSIX build.
  return FromWide(kCodePage936, WC_NO_BEST_FIT_CHARS, pszWide, nLength);
}

std::string WideToUtf8(const std::wstring& strWide) {
  return FromWide(CP_UTF8, 0, strWide.data(), strWide.size());
}
