#include "platform/posix/utf8.h"

namespace {

// Sequence length announced by a lead byte, or 0 when it cannot start one.
size_t SequenceLength(unsigned char byLead) {
  if (byLead < 0x80) return 1;
  if (byLead >= 0xC2 && byLead <= 0xDF) return 2;
  if (byLead >= 0xE0 && byLead <= 0xEF) return 3;
  if (byLead >= 0xF0 && byLead <= 0xF4) return 4;
  return 0;
}

}  // namespace

size_t DecodeUtf8(const unsigned char* pbyText, size_t nAvail, char32_t* pchOut) {
  if (nAvail == 0) return 0;
  size_t nLen = SequenceLength(pbyText[0]);
  if (nLen == 0 || nLen > nAvail) return 0;
  static const unsigned char s_byLeadMask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
  char32_t ch = pbyText[0] & s_byLeadMask[nLen];
  for (size_t i = 1; i < nLen; ++i) {
    if ((pbyText[i] & 0xC0) != 0x80) return 0;
    ch = (ch << 6) | (pbyText[i] & 0x3F);
  }
  static const char32_t s_chMin[] = {0, 0, 0x80, 0x800, 0x10000};
  if (ch < s_chMin[nLen] || ch > 0x10FFFF || (ch >= 0xD800 && ch <= 0xDFFF)) return 0;
  *pchOut = ch;
  return nLen;
}
