// Code page 936 conversions over iconv. Windows builds provide the same two
// functions over MultiByteToWideChar in their own source file.
#include <iconv.h>

#include <cerrno>

#include "platform/cp936.h"
#include "platform/posix/utf8.h"

namespace {

// One conversion descriptor per thread and direction: iconv descriptors keep
// shift state and must not be shared between threads.
class CIconv {
 public:
  CIconv(const char* pszTo, const char* pszFrom) : m_cd(iconv_open(pszTo, pszFrom)) {}
  ~CIconv() {
    if (IsOpen()) iconv_close(m_cd);
  }
  CIconv(const CIconv&) = delete;
  CIconv& operator=(const CIconv&) = delete;

  bool IsOpen() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

  // Converts as much as possible of [*ppIn, *ppIn + *pnIn) into the tail of
  // strOut, growing it as needed. Returns 0 when all input was consumed,
  // otherwise the errno that stopped it (EILSEQ or EINVAL) with *ppIn at the
  // offending bytes.
  int Convert(char** ppIn, size_t* pnIn, std::string& strOut) {
    iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
    while (*pnIn > 0) {
      size_t nUsed = strOut.size();
      strOut.resize(nUsed + *pnIn * 2 + 16);
      char* pOut = &strOut[nUsed];
      size_t nOutLeft = strOut.size() - nUsed;
      size_t nResult = iconv(m_cd, ppIn, pnIn, &pOut, &nOutLeft);
      int nErr = errno;
      strOut.resize(strOut.size() - nOutLeft);
      if (nResult != static_cast<size_t>(-1)) return 0;
      if (nErr != E2BIG) return nErr;
    }
    return 0;
  }

 private:
  iconv_t m_cd;
};

CIconv& Decoder() {
  static thread_local CIconv s_iconv("UTF-8", "CP936");
  return s_iconv;
}

CIconv& Encoder() {
  static thread_local CIconv s_iconv("CP936", "UTF-8");
  return s_iconv;
}

}  // namespace

bool Cp936ToUtf8(const std::string& strCp936, std::string& strUtf8) {
  CIconv& conv = Decoder();
  if (!conv.IsOpen()) return false;
  std::string strIn(strCp936);
  char* pIn = strIn.data();
  size_t nIn = strIn.size();
  std::string strOut;
  if (conv.Convert(&pIn, &nIn, strOut) != 0) return false;
  strUtf8.swap(strOut);
  return true;
}

bool Utf8ToCp936(const std::string& strUtf8, std::string& strCp936, bool bFailOnInvalid) {
  CIconv& conv = Encoder();
  if (!conv.IsOpen()) return false;
  std::string strIn(strUtf8);
  char* pIn = strIn.data();
  size_t nIn = strIn.size();
  std::string strOut;
  while (conv.Convert(&pIn, &nIn, strOut) != 0) {
    // iconv stops alike at invalid UTF-8 and at characters the code page
    // lacks; decoding the sequence ourselves tells the two apart.
    char32_t ch = 0;
    size_t nSkip = DecodeUtf8(reinterpret_cast<const unsigned char*>(pIn), nIn, &ch);
    if (nSkip == 0) {
      if (bFailOnInvalid) return false;
      nSkip = 1;
    }
    strOut.push_back('?');
    pIn += nSkip;
    nIn -= nSkip;
  }
  strCp936.swap(strOut);
  return true;
}
