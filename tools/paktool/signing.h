// paktool's side of signed updates: key files named on the command line,
// the format check a pack passes before it is signed, and signature
// results in words.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tools/filepacktools_lib/packsign.h"
#include "tools/paktool/packpath.h"

namespace paktool {

// A key failure in words: the library's reason, or for a file that cannot
// be read or written the system's.
std::string KeyFailureText(PackKeyStatus status, DWORD dwError);

// Read the key file strArg names. Report a failure about it and return
// false.
bool LoadPublicKey(const std::string& strArg, PackPublicKey& key);
bool LoadSecretKey(const std::string& strArg, PackSecretKey& key);

// A signature check's outcome in words, the system's reason added for a
// file that cannot be read.
std::string SignatureText(const PackSigCheck& check);

// True when the file is a delta update (packdelta.h) rather than a pack.
bool IsDeltaFile(const std::string& strPath);

// Checks every rule of the pack format (VerifyPack) with a progress line;
// for a delta update, the rules of its container and its whole entries
// (VerifyDelta).
// vecProblems receives each problem found, names shown with '/'. Returns
// false, reported, when the pack cannot be read.
bool CheckPackFormat(const CPackArg& packArg, std::vector<std::string>& vecProblems);

// Prints each problem as a line "PACK: problem".
void PrintProblems(const CPackArg& packArg, const std::vector<std::string>& vecProblems);

}  // namespace paktool
