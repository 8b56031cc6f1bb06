#include "platform/posix/locale_charset.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <strings.h>

#include <cerrno>

#include "platform/cp936.h"
#include "platform/posix/utf8.h"

namespace {

std::string ReadLocaleCharset() {
  locale_t hLocale = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
  if (hLocale == static_cast<locale_t>(0)) return "UTF-8";  // unknown locale: the C locale's rule
  std::string strSet = nl_langinfo_l(CODESET, hLocale);
  freelocale(hLocale);
  if (strSet.empty() || strcasecmp(strSet.c_str(), "ANSI_X3.4-1968") == 0 || strcasecmp(strSet.c_str(), "ASCII") == 0)
    return "UTF-8";
  return strSet;
}

class CIconvDescriptor {
 public:
  CIconvDescriptor(const char* pszTo, const char* pszFrom) : m_cd(iconv_open(pszTo, pszFrom)) {}
  ~CIconvDescriptor() {
    if (IsOpen()) iconv_close(m_cd);
  }
  CIconvDescriptor(const CIconvDescriptor&) = delete;
  CIconvDescriptor& operator=(const CIconvDescriptor&) = delete;

  bool IsOpen() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
  iconv_t Get() const { return m_cd; }

 private:
  iconv_t m_cd;
};

// Length in the source set of the character at pbyText that iconv refused.
size_t RefusedCharLength(const char* pszFrom, const unsigned char* pbyText, size_t nAvail) {
  if (strcasecmp(pszFrom, "CP936") == 0) return Cp936IsLeadByte(pbyText[0]) && nAvail > 1 ? 2 : 1;
  if (strcasecmp(pszFrom, "UTF-8") == 0) {
    char32_t ch = 0;
    size_t nLength = DecodeUtf8(pbyText, nAvail, &ch);
    return nLength == 0 ? 1 : nLength;
  }
  return 1;
}

}  // namespace

const std::string& LocaleCharset() {
  static const std::string s_strCharset = ReadLocaleCharset();
  return s_strCharset;
}

std::string ConvertCharset(const std::string& strIn, const char* pszTo, const char* pszFrom) {
  if (strcasecmp(pszTo, pszFrom) == 0) return strIn;
  CIconvDescriptor cd(pszTo, pszFrom);
  if (!cd.IsOpen()) return strIn;
  std::string strSource(strIn);
  char* pIn = &strSource[0];
  size_t nIn = strSource.size();
  std::string strOut;
  while (nIn > 0) {
    size_t nUsed = strOut.size();
    strOut.resize(nUsed + nIn * 4 + 16);
    char* pOut = &strOut[nUsed];
    size_t nOutLeft = strOut.size() - nUsed;
    size_t nResult = iconv(cd.Get(), &pIn, &nIn, &pOut, &nOutLeft);
    int nErr = errno;
    strOut.resize(strOut.size() - nOutLeft);
    if (nResult != static_cast<size_t>(-1) || nErr == E2BIG) continue;
    // EILSEQ or EINVAL: replace the refused character and go on after it.
    size_t nSkip = RefusedCharLength(pszFrom, reinterpret_cast<const unsigned char*>(pIn), nIn);
    strOut.push_back('?');
    pIn += nSkip;
    nIn -= nSkip;
  }
  return strOut;
}
