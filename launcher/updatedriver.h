// The update driver's pieces besides main.
#pragma once

#include "platform/win32.h"

// The tool's own directory, in the case the system reports it, without a
// trailing backslash. Set by LoadExeDir; read by WriteVersionFile.
extern char g_szExeDir[MAX_PATH];

// Sets g_szExeDir from the running executable's path. False with the last
// error set when the path cannot be read, and ERROR_FILENAME_EXCED_RANGE when
// it does not fit MAX_PATH (g_szExeDir is then left empty).
bool LoadExeDir();

// The paths of one update run, each NUL-terminated and shorter than
// MAX_PATH.
struct CUpdatePaths {
  char szToolDir[MAX_PATH];     // g_szExeDir, lower-cased
  char szUpdatePack[MAX_PATH];  // the update pack, lower-cased
  char szClientPack[MAX_PATH];  // clientres.pak in the tool's directory, lower-cased
};

// Loads g_szExeDir and resolves the update pack: the lower-cased argument
// itself when it is absolute or contains the lower-cased tool directory
// anywhere, else taken relative to the tool directory (not the current
// directory). False
// with the last error set when the tool directory cannot be read, or with
// ERROR_FILENAME_EXCED_RANGE when a path would not fit MAX_PATH.
bool ResolveUpdatePaths(const char* pszUpdateArg, CUpdatePaths& paths);

// After a merge: compacts the client pack (CRealizePack::CompactPack) when
// more than a quarter of it is holes. Returns true when it was compacted;
// false when it was not needed or failed, the pack then left as it is.
bool CompactClientPack(const char* pszClientPack);

// Greys out the console window's Close command, so the user cannot close the
// console while a merge runs.
void DisableConsoleClose();

// Stores pszVersion's bytes, without terminator or line end, as version.ver
// in g_szExeDir. A crash leaves the old content or the new, never part of
// it: the text goes to version.ver.tmp, which is flushed and then moved
// over version.ver with write-through (a durable replace). Null or empty text writes
// nothing. Returns false with the last error set when version.ver could not
// be replaced (it then keeps its old content).
bool WriteVersionFile(const char* pszVersion);

// Called once an update passed its checks, before the client is stopped.
// Patchloom does nothing here (afterupdatecheck.cpp); the trust tests'
// build of the updater writes into the update file in place, as an
// attacker would, to show that what was checked is what is merged.
void AfterUpdateCheck(const CUpdatePaths& paths);
