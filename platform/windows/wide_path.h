// A code-page-936 path argument converted for a "W" function.
#pragma once

#include <string>

#include "platform/api_guard.h"
#include "platform/win32.h"

class CWidePath {
 public:
  // Converts pszPath; a null pointer stays null, for the W function to judge.
  // Text of nMaxLength bytes or more is refused: paths are limited to the
  // program's MAX_PATH buffers, command lines to what Windows accepts.
  explicit CWidePath(const char* pszPath, size_t nMaxLength = MAX_PATH);

  // ERROR_SUCCESS, or the error the call fails with before reaching Windows.
  DWORD Error() const { return m_dwError; }
  const wchar_t* Get() const { return m_bNull ? nullptr : m_strWide.c_str(); }
  // A writable copy for the calls that may change their argument in place
  // (CreateProcessW's command line); null for a null argument.
  wchar_t* GetWritable() { return m_bNull ? nullptr : &m_strWide[0]; }

 private:
  std::wstring m_strWide;
  DWORD m_dwError = ERROR_SUCCESS;
  bool m_bNull = false;
};

// Longest command line CreateProcess accepts, terminator included.
constexpr size_t kMaxCommandLine = 32768;

// Runs body(pszWide) with pszPath converted, or fails with the conversion's
// error.
template <typename TValue, typename TBody>
TValue WithWidePath(const char* pszPath, TValue failValue, TBody&& body) noexcept {
  return GuardWin32(failValue, [&]() -> TValue {
    CWidePath path(pszPath);
    if (path.Error() != ERROR_SUCCESS) {
      SetLastError(path.Error());
      return failValue;
    }
    return body(path.Get());
  });
}
