#include "platform/windows/wide_path.h"

#include <cstring>

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
