// The current directory and the module path, in code page 936.
#include <cstring>
#include <string>
#include <vector>

#include "platform/module_name.h"
#include "platform/windows/wide_path.h"
#include "platform/windows/wide_text.h"

namespace {

std::wstring CurrentDirectoryWide() {
  DWORD nNeeded = GetCurrentDirectoryW(0, nullptr);
  if (nNeeded == 0) return std::wstring();
  std::vector<wchar_t> vecBuffer(nNeeded);
  DWORD nLength = GetCurrentDirectoryW(nNeeded, vecBuffer.data());
  if (nLength == 0 || nLength >= nNeeded) return std::wstring();
  return std::wstring(vecBuffer.data(), nLength);
}

// The module's path, or empty with the last error set.
std::wstring ModuleFileNameWide(HMODULE hModule) {
  std::vector<wchar_t> vecBuffer(MAX_PATH);
  for (;;) {
    DWORD nSize = static_cast<DWORD>(vecBuffer.size());
    DWORD nLength = GetModuleFileNameW(hModule, vecBuffer.data(), nSize);
    if (nLength == 0) return std::wstring();
    if (nLength < nSize) return std::wstring(vecBuffer.data(), nLength);
    vecBuffer.resize(vecBuffer.size() * 2);
  }
}

DWORD GetCurrentDirectoryImpl(DWORD nBufferLength, LPSTR pszBuffer) {
  std::wstring strWide = CurrentDirectoryWide();
  if (strWide.empty()) return 0;
  std::string strPath = WideToCp936(strWide.data(), strWide.size());
  // Too small: the size needed, terminator included, and nothing copied.
  if (pszBuffer == nullptr || strPath.size() >= nBufferLength) return static_cast<DWORD>(strPath.size() + 1);
  std::memcpy(pszBuffer, strPath.c_str(), strPath.size() + 1);
  return static_cast<DWORD>(strPath.size());
}

DWORD GetModuleFileNameImpl(HMODULE hModule, LPSTR pszFilename, DWORD nSize) {
  std::wstring strWide = ModuleFileNameWide(hModule);
  if (strWide.empty()) return 0;
  return CopyModuleFileName(WideToCp936(strWide.data(), strWide.size()), pszFilename, nSize);
}

}  // namespace

DWORD WINAPI Cp936GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer) {
  return GuardWin32(static_cast<DWORD>(0), [&] { return GetCurrentDirectoryImpl(nBufferLength, lpBuffer); });
}

BOOL WINAPI Cp936SetCurrentDirectoryA(LPCSTR lpPathName) {
  return WithWidePath(lpPathName, FALSE, [](const wchar_t* pszWide) { return SetCurrentDirectoryW(pszWide); });
}

DWORD WINAPI Cp936GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  return GuardWin32(static_cast<DWORD>(0), [&] { return GetModuleFileNameImpl(hModule, lpFilename, nSize); });
}
