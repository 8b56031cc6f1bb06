// The program's console on Windows. GBK text goes to a console as UTF-16
// (WriteConsoleW shows it whatever the console's code page); redirected to
// a pipe or a file it goes out byte for byte through WriteFile. The C
// runtime's stdout is not used: in its text mode every "\n" would become
// "\r\n", and the updater's output would differ between the builds.
#include <conio.h>

#include <new>
#include <string>

#include "platform/console.h"
#include "platform/win32.h"
#include "platform/windows/wide_text.h"

namespace {

bool IsConsole(HANDLE hHandle) {
  DWORD dwMode = 0;
  return hHandle != nullptr && hHandle != INVALID_HANDLE_VALUE && GetConsoleMode(hHandle, &dwMode);
}

void WriteAllBytes(HANDLE hOutput, const char* pData, size_t nLength) {
  while (nLength > 0) {
    DWORD dwChunk = nLength > (1u << 30) ? (1u << 30) : static_cast<DWORD>(nLength);
    DWORD dwWritten = 0;
    if (!WriteFile(hOutput, pData, dwChunk, &dwWritten, nullptr) || dwWritten == 0) return;
    pData += dwWritten;
    nLength -= dwWritten;
  }
}

void WriteToConsole(HANDLE hOutput, const char* pszText, size_t nLength) {
  std::wstring strWide = Cp936ToWideLenient(pszText, nLength);
  const wchar_t* pWide = strWide.data();
  size_t nLeft = strWide.size();
  while (nLeft > 0) {
    DWORD dwChunk = nLeft > 8192 ? 8192 : static_cast<DWORD>(nLeft);
    DWORD dwWritten = 0;
    if (!WriteConsoleW(hOutput, pWide, dwChunk, &dwWritten, nullptr) || dwWritten == 0) return;
    pWide += dwWritten;
    nLeft -= dwWritten;
  }
}

}  // namespace

void ConsoleWrite(const char* pszText, size_t nLength) {
  if (pszText == nullptr || nLength == 0) return;
  try {
    HANDLE hOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    if (hOutput == nullptr || hOutput == INVALID_HANDLE_VALUE) return;
    if (IsConsole(hOutput)) {
      WriteToConsole(hOutput, pszText, nLength);
    } else {
      WriteAllBytes(hOutput, pszText, nLength);
    }
  } catch (const std::bad_alloc&) {
    // Output is best effort: an update must not stop for it.
  }
}

void ConsoleWaitKey() {
  // No console (a pipe, a file, the null device): _getch would fail at once
  // anyway; do not depend on it.
  if (!IsConsole(GetStdHandle(STD_INPUT_HANDLE))) return;
  int nKey = _getch();
  // Arrows and function keys arrive as two codes: take the second too, so
  // it does not reach the shell afterwards.
  if (nKey == 0 || nKey == 0xE0) _getch();
}
