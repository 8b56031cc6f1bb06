#include "platform/cp936.h"

#include <cstring>

namespace {

// Length in bytes of the character starting at pszChar (1 or 2; 0 at the end).
size_t CharLength(const char* pszChar) {
  if (*pszChar == '\0') return 0;
  if (Cp936IsLeadByte(static_cast<unsigned char>(*pszChar)) && pszChar[1] != '\0') return 2;
  return 1;
}

char FoldLower(char ch) { return (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch - 'A' + 'a') : ch; }

// True when pszFind matches at pszAt and the match ends on a character
// boundary of the text (pszAt itself is already on one).
bool MatchesAt(const char* pszAt, const char* pszFind, size_t nFind) {
  if (std::strncmp(pszAt, pszFind, nFind) != 0) return false;
  size_t nWalked = 0;
  while (nWalked < nFind) nWalked += CharLength(pszAt + nWalked);
  return nWalked == nFind;
}

}  // namespace

bool Cp936IsLeadByte(unsigned char byChar) { return byChar >= 0x81 && byChar <= 0xFE; }

const char* Cp936StrChr(const char* pszText, char chFind) {
  if (pszText == nullptr) return nullptr;
  for (const char* p = pszText;; p += CharLength(p)) {
    size_t nLen = CharLength(p);
    if (nLen == 0) return chFind == '\0' ? p : nullptr;
    if (nLen == 1 && *p == chFind) return p;
  }
}

char* Cp936StrChr(char* pszText, char chFind) {
  return const_cast<char*>(Cp936StrChr(static_cast<const char*>(pszText), chFind));
}

const char* Cp936StrRChr(const char* pszText, char chFind) {
  if (pszText == nullptr) return nullptr;
  const char* pszLast = nullptr;
  const char* p = pszText;
  for (size_t nLen = CharLength(p); nLen != 0; p += nLen, nLen = CharLength(p)) {
    if (nLen == 1 && *p == chFind) pszLast = p;
  }
  return chFind == '\0' ? p : pszLast;
}

char* Cp936StrRChr(char* pszText, char chFind) {
  return const_cast<char*>(Cp936StrRChr(static_cast<const char*>(pszText), chFind));
}

char* Cp936StrLwr(char* pszText) {
  if (pszText == nullptr) return nullptr;
  for (char* p = pszText; *p != '\0'; p += CharLength(p)) *p = FoldLower(*p);
  return pszText;
}

const char* Cp936StrStr(const char* pszText, const char* pszFind) {
  if (pszText == nullptr || pszFind == nullptr) return nullptr;
  size_t nFind = std::strlen(pszFind);
  for (const char* p = pszText;; p += CharLength(p)) {
    if (MatchesAt(p, pszFind, nFind)) return p;
    if (*p == '\0') return nullptr;
  }
}

char* Cp936StrStr(char* pszText, const char* pszFind) {
  return const_cast<char*>(Cp936StrStr(static_cast<const char*>(pszText), pszFind));
}

int Cp936StrICmp(const char* pszLeft, const char* pszRight) {
  if (pszLeft == nullptr || pszRight == nullptr) return (pszLeft != nullptr) - (pszRight != nullptr);
  // While the strings are equal their characters line up, and folding never
  // turns a lead byte into anything else, so one walk serves both strings.
  for (;;) {
    size_t nLen = CharLength(pszLeft);
    unsigned char byLeft = static_cast<unsigned char>(FoldLower(*pszLeft));
    unsigned char byRight = static_cast<unsigned char>(FoldLower(*pszRight));
    if (byLeft != byRight || byLeft == 0) return byLeft - byRight;
    if (nLen == 2) {
      byLeft = static_cast<unsigned char>(pszLeft[1]);
      byRight = static_cast<unsigned char>(pszRight[1]);
      if (byLeft != byRight) return byLeft - byRight;
    }
    pszLeft += nLen;
    pszRight += nLen;
  }
}

size_t Cp936FittingPrefix(const std::string& strText, size_t nMax) {
  size_t nPos = 0;
  while (nPos < strText.size()) {
    size_t nChar = Cp936IsLeadByte(static_cast<unsigned char>(strText[nPos])) && nPos + 1 < strText.size() ? 2 : 1;
    if (nPos + nChar > nMax) break;
    nPos += nChar;
  }
  return nPos;
}
