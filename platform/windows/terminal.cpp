// The terminal on Windows: a console, and the C runtime's text mode.
#include "platform/terminal.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "platform/win32.h"

std::string ToTerminalText(const std::string& strCp936) { return strCp936; }

bool IsStderrTerminal() {
  DWORD dwMode = 0;
  HANDLE hError = GetStdHandle(STD_ERROR_HANDLE);
  return hError != nullptr && hError != INVALID_HANDLE_VALUE && GetConsoleMode(hError, &dwMode) != 0;
}

void SetStdoutBinary() {
  std::fflush(stdout);
  _setmode(_fileno(stdout), _O_BINARY);
}
