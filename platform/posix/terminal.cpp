// The terminal on POSIX: the locale's character set, isatty.
#include "platform/terminal.h"

#include <unistd.h>

#include "platform/posix/locale_charset.h"

std::string ToTerminalText(const std::string& strCp936) {
  return ConvertCharset(strCp936, LocaleCharset().c_str(), "CP936");
}

bool IsStderrTerminal() { return isatty(STDERR_FILENO) != 0; }

void SetStdoutBinary() {}
