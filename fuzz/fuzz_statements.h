// The fixed key and pack digest the statement target checks signature files
// against, and signature files made with them: its seeds of every valid
// form and its kept cases.
#pragma once

#include <string>
#include <vector>

#include "tools/filepacktools_lib/packsign.h"

// The key updates are signed with (a fixed seed, so the seeds come out the
// same every time: Ed25519 signatures are deterministic), a key of a
// stranger, and the digest of the pack every statement is held against.
const PackSecretKey& FuzzSigningKey();
const PackSecretKey& FuzzStrangerKey();
const PackDigest& FuzzPackDigest();

// The signature file of a statement, signed with key. Format 2 names the
// key (MakePackSignature); format 1 is written as publishers once wrote it.
// Throws std::runtime_error when the statement cannot be signed.
std::string SignedFile(const PackStatement& statement, const PackSecretKey& key);

// Statements of every valid form for the fixed digest: format 1; format 2
// for any base, bound to a base (with its release and removals), and a full
// update bringing a whole release.
std::vector<PackStatement> FuzzStatements();
