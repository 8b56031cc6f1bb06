// Operations on the game client's processes and files around a merge. They
// print nothing and keep no state between calls.
#pragma once

// Terminates (exit code 0) every running process whose image file name is
// pszImageName, compared without regard to letter case, character by
// character in code page 936. Returns the result of the last termination
// (non-zero: terminated); 0 when no process matched, when the process list
// cannot be taken, or when a matching process cannot be opened, which stops
// the walk. Processes started after the call began are not seen.
int KillProcessByName(const char* pszImageName);

// 1 when the file opens for reading with read sharing, else 0 with the last
// error left as the open set it (callers print it). A directory, or a file
// another process holds open for writing or without read sharing, counts as
// absent.
int FileExists(const char* pszPath);

// Starts the program with an empty command line and waits, without a time
// limit, until it ends. False when it could not be started (last error set).
bool RunProcessAndWait(const char* pszProgram);
