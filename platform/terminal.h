// The terminal as a command-line tool meets it: names shown in the user's
// character set, and whether a progress line has anyone to show it to.
// Implemented per platform (posix/terminal.cpp, windows/terminal.cpp).
#pragma once

#include <string>

// Code page 936 text (the program's own) in the character set the user's
// terminal and files use: the locale's on POSIX (whether or not the output
// is a terminal, as other tools write names), unchanged on Windows, whose
// console runs code page 936. A character that cannot be shown becomes '?'.
std::string ToTerminalText(const std::string& strCp936);

// True when standard error is a terminal (a console on Windows): only then
// is a progress line written, so pipes and logs get nothing extra.
bool IsStderrTerminal();

// Puts standard output into binary mode, so that bytes written through the
// C runtime reach it unchanged (Windows would turn "\n" into "\r\n"). No-op
// on POSIX.
void SetStdoutBinary();
