#include "tools/filepacktools_lib/packmanifest.h"

#include <gcrypt.h>

#include "platform/win32.h"
#include "tools/filepacktools_lib/cryptolib.h"
#include "tools/filepacktools_lib/hextext.h"

namespace {

constexpr size_t kSha256Size = 32;
const char kUpperHex[] = "0123456789ABCDEF";

bool NeedsEscape(unsigned char by) { return by < 0x20 || by == 0x7F || by == '%'; }

int UpperHexValue(char ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
  return -1;
}

}  // namespace

std::string EncodeNameText(const std::string& strName) {
  std::string strText;
  strText.reserve(strName.size());
  for (char ch : strName) {
    const unsigned char by = static_cast<unsigned char>(ch);
    if (!NeedsEscape(by)) {
      strText += ch;
      continue;
    }
    strText += '%';
    strText += kUpperHex[by >> 4];
    strText += kUpperHex[by & 0x0F];
  }
  return strText;
}

bool DecodeNameText(const std::string& strText, std::string& strName) {
  strName.clear();
  for (size_t i = 0; i < strText.size(); ++i) {
    const unsigned char by = static_cast<unsigned char>(strText[i]);
    if (by != '%') {
      if (NeedsEscape(by)) return false;
      strName += strText[i];
      continue;
    }
    if (i + 2 >= strText.size()) return false;
    const int nHigh = UpperHexValue(strText[i + 1]);
    const int nLow = UpperHexValue(strText[i + 2]);
    if (nHigh < 0 || nLow < 0) return false;
    const unsigned char byValue = static_cast<unsigned char>(nHigh << 4 | nLow);
    if (!NeedsEscape(byValue)) return false;
    strName += static_cast<char>(byValue);
    i += 2;
  }
  return true;
}

std::string ReleaseLine(const std::string& strName, const CContentTag& tag) {
  return std::string(tag.szTag, kPackTagSize) + ' ' + std::to_string(tag.dwSize) + ' ' + EncodeNameText(strName) + '\n';
}

std::string ReleaseText(const ContentTagMap& mapRelease) {
  std::string strText = kReleaseTextHeader;
  for (const auto& item : mapRelease) strText += ReleaseLine(item.first, item.second);
  return strText;
}

bool ReleaseDigest(const ContentTagMap& mapRelease, std::string& strDigestHex) {
  if (!CryptoReady() || gcry_md_test_algo(GCRY_MD_SHA256) != 0) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
  }
  const std::string strText = ReleaseText(mapRelease);
  unsigned char byDigest[kSha256Size];
  gcry_md_hash_buffer(GCRY_MD_SHA256, byDigest, strText.data(), strText.size());
  strDigestHex = HexText(byDigest, kSha256Size);
  return true;
}

bool IsReleaseDigest(const std::string& strText) {
  unsigned char byDigest[kSha256Size];
  return ParseHex(strText, byDigest, kSha256Size);
}
