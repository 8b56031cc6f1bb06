#include "tools/filepacktools_lib/hextext.h"

namespace {

const char kHexDigits[] = "0123456789abcdef";

int HexValue(char ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
  return -1;
}

}  // namespace

void WriteHex(const void* pData, size_t nSize, char* pchOut) {
  const unsigned char* pbyData = static_cast<const unsigned char*>(pData);
  for (size_t i = 0; i < nSize; ++i) {
    pchOut[2 * i] = kHexDigits[pbyData[i] >> 4];
    pchOut[2 * i + 1] = kHexDigits[pbyData[i] & 0x0F];
  }
}

std::string HexText(const void* pData, size_t nSize) {
  std::string strText(2 * nSize, '0');
  if (nSize > 0) WriteHex(pData, nSize, &strText[0]);
  return strText;
}

bool ParseHex(const std::string& strText, void* pOut, size_t nSize) {
  if (strText.size() != 2 * nSize) return false;
  unsigned char* pbyOut = static_cast<unsigned char*>(pOut);
  for (size_t i = 0; i < nSize; ++i) {
    const int nHigh = HexValue(strText[2 * i]);
    const int nLow = HexValue(strText[2 * i + 1]);
    if (nHigh < 0 || nLow < 0) return false;
    pbyOut[i] = static_cast<unsigned char>(nHigh << 4 | nLow);
  }
  return true;
}
