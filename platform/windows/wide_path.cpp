#include "platform/windows/wide_path.h"

#include <cstring>

#include "platform/cp936.h"
#include "platform/windows/wide_text.h"

CWidePath::CWidePath(const char* pszPath, size_t nMaxLength) {
  if (pszPath == nullptr) {
    m_bNull = true;
    return;
  }
  // The program's path buffers are MAX_PATH bytes of code page 936; the
  // POSIX build refuses longer paths the same way.
  size_t nLength = std::strlen(pszPath);
  if (nLength >= nMaxLength) {
    m_dwError = ERROR_FILENAME_EXCED_RANGE;
  } else if (!Cp936ToWide(pszPath, nLength, m_strWide)) {
    m_dwError = ERROR_INVALID_NAME;
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
