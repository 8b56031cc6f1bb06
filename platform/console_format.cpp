// ConsolePrintf: formatting is the same everywhere; only the write differs.
#include <cstdarg>
#include <cstdio>
#include <vector>

#include "platform/console.h"

void ConsolePrintf(const char* pszFormat, ...) {
  va_list args;
  va_start(args, pszFormat);
  va_list argsCopy;
  va_copy(argsCopy, args);
  int nLength = std::vsnprintf(nullptr, 0, pszFormat, args);
  va_end(args);
  if (nLength > 0) {
    std::vector<char> vecText(static_cast<size_t>(nLength) + 1);
    std::vsnprintf(vecText.data(), vecText.size(), pszFormat, argsCopy);
    ConsoleWrite(vecText.data(), static_cast<size_t>(nLength));
  }
  va_end(argsCopy);
}
