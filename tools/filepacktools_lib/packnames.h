// The rule for names inside a pack that may become files on disk: an
// extraction or a merge writes an entry below a directory only when its
// name passes it, and a check reports the names that do not.
#pragma once

#include <string>

// True when every component of strName (a name or key in code page 936,
// components split at backslashes by characters) can become a file or
// directory name below a directory without leaving it or meaning something
// else to Windows: not empty, not "." or "..", no byte below 0x20, none of
// < > : " / | ? *, no trailing dot or space (Windows strips them), and not a
// device name such as CON, NUL, COM1 or LPT1 (with any extension). False
// for the empty name. Sets no error.
bool IsSafeEntryName(const std::string& strName);
