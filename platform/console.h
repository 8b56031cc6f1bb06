// The program's console: messages out, one key in. The program's text is
// code page 936 (GBK) on every platform; this is where it meets the user's
// terminal. Implemented per platform (posix/console_io.cpp on POSIX);
// ConsolePrintf is shared (console_format.cpp).
#pragma once

#include <cstddef>

#if defined(__GNUC__) || defined(__clang__)
#define PATCHLOOM_PRINTF_FORMAT(nFormat, nFirstArg) __attribute__((format(printf, nFormat, nFirstArg)))
#else
#define PATCHLOOM_PRINTF_FORMAT(nFormat, nFirstArg)
#endif

// Writes nLength bytes of GBK text to standard output and flushes them, so a
// line ended by '\r' shows at once. On a terminal (a console on Windows) the
// text is converted to the terminal's character set, a character it cannot
// show becoming '?'; into a pipe or a file the GBK bytes go unchanged, as
// Windows writes redirected console output. Write errors are ignored: a
// closed terminal must not stop an update.
void ConsoleWrite(const char* pszText, size_t nLength);

// Formats like printf (the arguments' bytes are copied as they are, so %s
// takes GBK strings) and writes the result with ConsoleWrite.
void ConsolePrintf(const char* pszFormat, ...) PATCHLOOM_PRINTF_FORMAT(1, 2);

// Waits for one key press without echoing it; the key is consumed. Returns
// at once when standard input is not a terminal (a console on Windows): a
// pipe, a file or the null device, as under CI.
void ConsoleWaitKey();
