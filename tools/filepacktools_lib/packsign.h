// Signed update packs. A publisher signs an update pack with an Ed25519
// secret key; the signature lives in a small text file beside the pack
// (<pack>.sig), so the pack format stays as it is. What is signed is a
// statement: the product the update is for, the pack's size and SHA-512
// digest, the version the update brings, the release it applies to and the
// release a client holds after it (packmanifest.h), and the entries it
// removes. Whoever holds the matching public key (the updater has it built
// in) can tell that the pack is the one the publisher signed, for this
// product, and what it does to which client.
//
// Files, all small text files of lines ending in LF, the first line naming
// the kind of file and its format version:
//
//   PREFIX.key   patchloom-ed25519-secret-key 2
//                id <16 hex digits: the key's id>
//                seed <64 hex digits: the Ed25519 secret key>
//                public <64 hex digits: its public key, a check on the seed>
//   PREFIX.pub   patchloom-ed25519-public-key 2
//                id <16 hex digits: the key's id>
//                public <64 hex digits>
//   PACK.sig     patchloom-update-statement 2
//                product <name>
//                key <16 hex digits: the id of the key that signed it>
//                size <the pack's size in bytes, decimal>
//                sha512 <128 hex digits: SHA-512 of the whole pack file>
//                version <the version the update brings>
//                base <the version it applies to, or "any">
//                baserelease <64 hex digits>   (optional) the digest of the
//                              release a client must hold to take it
//                release <64 hex digits>       (optional) the digest of the
//                              release a client holds after it
//                delta yes                     (optional) the pack is a delta
//                              update (packdelta.h), rebuilt against the
//                              client before it is merged; needs baserelease
//                remove <entry name>           (any number) an entry the
//                              update removes, in name text
//                              (packmanifest.h), in ascending name order
//                signature <128 hex digits>
//   PACK.statement  the statement alone, unsigned, as 'paktool diff' writes
//                it for 'paktool sign' (its "key" line is optional: the
//                signing fills it in)
//
// The fields come in that order when written and in any order when read;
// each once, "remove" as often as needed. Versions are release versions
// (packversion.h: IsReleaseVersion). A "base any" update is a full update:
// it applies to a client of any release; with "release" it brings the whole
// release, so every entry it lacks is removed, and it has no "baserelease"
// and no "remove" lines. Statements of format 1 (product, size, sha512,
// version, signature) are still read and verified, but say nothing of the
// base or the key: an updater refuses them.
//
// A key's id is the first 8 bytes of the SHA-512 of its 32 public key
// bytes. It lets an updater that trusts several keys (while one replaces
// another) pick the one a statement names; the signature covers the id
// with everything else. Key files of format 1 (without the id line) are
// still read, the id derived; the id a file of format 2 records must be
// the one its key gives.
//
// Hex digits are lower case. The signature is Ed25519 (pure, RFC 8032) over
// the exact bytes of the statement: from the first byte of the file up to
// and including the LF before "signature". Readers are strict: every field
// once, nothing unknown, nothing after the signature.
//
// Threads: every function may be called from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32.h"

// ---- Names -------------------------------------------------------------

// The product statements name unless the caller names another: the game
// client this updater serves. A key shared by two games cannot carry an
// update of one into the other, since each checks its own name.
extern const char kPackProduct[];

// File name suffixes: PREFIX.key, PREFIX.pub, and the pack's path + ".sig"
// or ".statement".
extern const char kSecretKeySuffix[];
extern const char kPublicKeySuffix[];
extern const char kSignatureSuffix[];
extern const char kStatementSuffix[];

// The signature file of a pack: its path with ".sig" appended; its unsigned
// statement: with ".statement" appended.
std::string PackSignaturePath(const std::string& strPackPath);
std::string PackStatementPath(const std::string& strPackPath);

// The base of a full update, which applies to a client of any release.
extern const char kAnyBase[];

// True when strText may be a product name or a version text in a
// statement: 1 to 64 bytes, each a printable ASCII character other than
// the space (0x21-0x7E).
bool IsStatementText(const std::string& strText);

// ---- Keys ----------------------------------------------------------------

constexpr size_t kPackKeySize = 32;

struct PackPublicKey {
  unsigned char byKey[kPackKeySize] = {};
};

constexpr size_t kPackKeyIdSize = 8;

// The key's id as statements and key files write it: 16 lower-case hex
// digits. "" when libgcrypt refuses SHA-512.
std::string PackKeyId(const PackPublicKey& key);

// True when strText has a key id's form: 16 lower-case hex digits.
bool IsPackKeyId(const std::string& strText);

// The key of vecKeys whose id is strKeyId, or null.
const PackPublicKey* FindPackKey(const std::vector<PackPublicKey>& vecKeys, const std::string& strKeyId);

// A secret key and its public key. The seed is wiped when the object goes.
struct PackSecretKey {
  unsigned char bySeed[kPackKeySize] = {};
  PackPublicKey publicKey;
  ~PackSecretKey();
};

// The outcome of a key operation.
enum class PackKeyStatus {
  kOk,
  kExists,             // keygen: PREFIX.key or PREFIX.pub exists; nothing written
  kUnreadable,         // the file cannot be opened or read (last error set)
  kNotAKeyFile,        // its first line names no kind of file of ours
  kWrongKind,          // one of our files, but not the kind asked for
  kUnsupportedFormat,  // the right kind in a format version we do not know
  kDamaged,            // the right kind and format, but its lines are not right (an id that is not the key's)
  kNotAPoint,          // the public key is no Ed25519 public key (not a curve point, or one of small order)
  kWriteFailed,        // keygen: a file could not be written (last error set)
  kNoCrypto,           // libgcrypt refuses Ed25519 (as in FIPS mode)
};

// A short English text for a status ("not a key file", ...).
const char* PackKeyReason(PackKeyStatus status);

// Generates a key pair and writes PREFIX.key, readable and writable by its
// owner only (CreateOwnerOnlyFileA), and PREFIX.pub, both in format 2 (with
// the key's id).
//   strPrefix  the paths without suffix, code page 936.
// Returns kOk; kExists, writing nothing, when either file exists (neither
// is ever replaced); kWriteFailed with the last error set when a file
// cannot be created or written (no file is left then); kNoCrypto.
PackKeyStatus GeneratePackKeys(const std::string& strPrefix);

// Reads a public key file (PREFIX.pub) or its text, of format 1 or 2. The
// text form lets a program carry a key built into it.
// Returns kOk with key filled, or the status saying what is wrong; key is
// unspecified then: kDamaged also for an id line that is not the key's,
// kNotAPoint for a key that is no Ed25519 public key (Ed25519IsPublicKey),
// kNoCrypto when libgcrypt is not ready to tell. kUnreadable leaves the
// system's error as last error.
PackKeyStatus ReadPackPublicKey(const std::string& strPath, PackPublicKey& key);
PackKeyStatus ParsePackPublicKey(const std::string& strText, PackPublicKey& key);

// Reads a secret key file (PREFIX.key). A seed whose public key is not the
// one the file records is kDamaged, so a damaged key never signs.
// Returns as ReadPackPublicKey; kNoCrypto when the public key cannot be
// derived.
PackKeyStatus ReadPackSecretKey(const std::string& strPath, PackSecretKey& key);

// ---- Digest --------------------------------------------------------------

constexpr size_t kPackDigestSize = 64;  // SHA-512

// What a statement records of a pack: its size and the SHA-512 of its bytes.
struct PackDigest {
  uint64_t qwSize = 0;
  unsigned char byHash[kPackDigestSize] = {};
};

struct gcry_md_handle;

// A digest fed piece by piece, for a caller that reads the pack itself:
// feed every byte of the file in order, from offset 0 to its end.
class CPackDigester {
 public:
  CPackDigester();
  ~CPackDigester();
  CPackDigester(const CPackDigester&) = delete;
  CPackDigester& operator=(const CPackDigester&) = delete;

  // Adds nSize bytes (pData may be null when nSize is 0).
  void Add(const void* pData, size_t nSize);

  // Writes the size and digest of everything added to digest. Returns false
  // with ERROR_NOT_SUPPORTED when libgcrypt refuses SHA-512; the object is
  // spent either way.
  bool Finish(PackDigest& digest);

 private:
  gcry_md_handle* m_pContext = nullptr;
  uint64_t m_qwSize = 0;
};

// The digest of the bytes read through an open handle: the file pointer is
// moved to offset 0 and the file read to its end (the pointer is left
// there), so the caller may digest the very handle it then reads the pack
// through.
//   hFile  a file handle with read access.
// Returns false with the last error set when a seek or read fails, or
// ERROR_NOT_SUPPORTED as CPackDigester::Finish.
bool DigestPackHandle(HANDLE hFile, PackDigest& digest);

// The digest of bytes in memory, such as a mapped view of the whole pack.
// Returns false only with ERROR_NOT_SUPPORTED.
bool DigestPackBytes(const void* pData, uint64_t qwSize, PackDigest& digest);

// The digest of a file, opened for reading (shared with readers).
// Returns false with the last error set.
bool DigestPackFile(const std::string& strPath, PackDigest& digest);

// ---- Statements ----------------------------------------------------------

// What is wrong with a statement or a signature file.
enum class SigFileFault {
  kNone,
  kTooLong,            // larger than any statement can be (1 MiB)
  kNotAStatement,      // its first line names another kind of file
  kUnsupportedFormat,  // a statement in a format version we do not know
  kTruncated,          // it ends inside a line or before the signature
  kBadLine,            // a line that is not "name value" (empty, CR, control bytes)
  kUnknownField,       // a field name no statement has
  kDuplicateField,     // a field given twice
  kMissingField,       // the signature comes before a field the statement needs
  kBadValue,           // a field's value is not in its form
  kTrailingData,       // bytes after the signature line
};

// What a statement says.
struct PackStatement {
  int nFormat = 2;  // 1: product, digest and version only (read, never written)
  std::string strProduct;
  std::string strKey;  // the signing key's id (PackKeyId); "" in format 1, and in an
                       // unsigned statement until it is signed
  PackDigest digest;
  std::string strVersion;              // the version the update brings
  std::string strBase;                 // the version it applies to, or kAnyBase
  std::string strBaseRelease;          // the base release's digest, or ""
  std::string strRelease;              // the release's digest after the update, or ""
  std::vector<std::string> vecRemove;  // entry names (code page 936), ascending
  bool bDelta = false;                 // the pack is a delta update (packdelta.h)

  // A full update that brings the whole release: "base any" with a release.
  bool IsWholeRelease() const;
};

// Whether a statement may be written as it is: texts in their forms, the
// base's rules kept, the whole within 1 MiB. Returns kNone or the fault,
// strField naming the field.
SigFileFault CheckStatement(const PackStatement& statement, std::string& strField);

// Writes the unsigned statement beside the pack (PackStatementPath), by
// the durable replace. Returns false with ERROR_INVALID_PARAMETER for a
// statement CheckStatement refuses, or the system's error.
bool WritePackStatement(const std::string& strPackPath, const PackStatement& statement);

// Reads the unsigned statement beside the pack (format 2, no signature).
// Returns false with the last error set: the system's when the file cannot
// be read (ERROR_FILE_NOT_FOUND when there is none), ERROR_INVALID_DATA
// when it is not a statement in its form, strWhy then saying what is wrong
// ("field missing: base").
bool ReadPackStatement(const std::string& strPackPath, PackStatement& statement, std::string& strWhy);
// The same for a statement file of any name.
bool ReadStatementFile(const std::string& strPath, PackStatement& statement, std::string& strWhy);

// A fault in words, with the field it is about ("field given twice: size").
std::string SigFaultText(SigFileFault fault, const std::string& strField);

// ---- Signing -------------------------------------------------------------

// The text of a signature file: the statement, naming key's id, signed with
// key. Returns false with ERROR_INVALID_PARAMETER for a statement
// CheckStatement refuses or one that names another key, or
// ERROR_NOT_SUPPORTED when libgcrypt refuses to sign.
bool MakePackSignature(const PackStatement& statement, const PackSecretKey& key, std::string& strSigText);

// Signs the pack file strPackPath with a statement: writes
// PackSignaturePath(strPackPath), replacing an older one (written to
// <sig>.tmp first, then moved over it, so a failed signing leaves the older
// file as it was). The pack is only read; its size and digest must be the
// statement's (ERROR_INVALID_DATA: the pack changed since the statement was
// made).
// Returns false with the last error set: the pack cannot be read, the
// statement is refused (ERROR_INVALID_PARAMETER), libgcrypt refuses
// (ERROR_NOT_SUPPORTED), or the file cannot be written.
bool SignPackStatement(const std::string& strPackPath, const PackSecretKey& key, const PackStatement& statement);

// Signs a hand-made update: the statement of the pack's digest, strVersion,
// strProduct and strBase, without release digests or removals.
bool SignPack(const std::string& strPackPath, const PackSecretKey& key, const std::string& strVersion,
              const std::string& strProduct = kPackProduct, const std::string& strBase = kAnyBase);

// ---- Verification --------------------------------------------------------

// The outcome of checking an update pack against its signature file. Each
// value is the error code the updater reports for it. Windows keeps bit 29
// (0x20000000) of error codes for applications and no system error has it,
// so none of these can be mistaken for a system error code; in decimal they
// read 536870913 and up.
enum class PackSigStatus : DWORD {
  kGood = 0,
  kNoSignature = 0x20000001,          // no PACK.sig beside the pack
  kUnreadableSignature = 0x20000002,  // PACK.sig exists but cannot be read
  kMalformedSignature = 0x20000003,   // PACK.sig is not a well-formed statement
  kBadSignature = 0x20000004,         // not signed by this key (or names another), or changed since
  kWrongProduct = 0x20000005,         // signed, but for another product
  kSizeMismatch = 0x20000006,         // the pack's size is not the signed size
  kDigestMismatch = 0x20000007,       // the pack's bytes are not the signed bytes
  kUnreadablePack = 0x20000008,       // the pack cannot be read to digest it
  kNoCrypto = 0x20000009,             // libgcrypt refuses SHA-512 or Ed25519
};

struct PackSigCheck {
  PackSigStatus status = PackSigStatus::kNoSignature;
  SigFileFault fault = SigFileFault::kNone;  // kMalformedSignature: what is wrong
  std::string strField;                      // the field a fault is about, if any
  std::string strVersion;                    // the signed version, once the signature is good
  std::string strProduct;                    // the signed product, once the signature is good
  std::string strKey;                        // the key id the statement names, once it parsed
  PackStatement statement;                   // the whole statement, once the signature is good
  DWORD dwError = ERROR_SUCCESS;             // kUnreadable*: the system's error
};

// A short English text for a status ("no signature file", ...), and for a
// whole result: the status's text, with the fault and field of a malformed
// file ("malformed signature file: field given twice: size"), the product
// of a wrong one and the key id a badly signed one names.
const char* PackSigReason(PackSigStatus status);
std::string PackSigText(const PackSigCheck& check);

// Reads the signature file of a pack into strSigText, reading at most 1 MiB.
// Returns kGood; kNoSignature when the file does not exist; kUnreadable-
// Signature with dwError when it cannot be opened or read; kMalformed-
// Signature (kTooLong) when it is larger than 1 MiB.
PackSigCheck ReadPackSignature(const std::string& strPackPath, std::string& strSigText);

// The checks in the order a careful reader makes them, nothing of the pack
// read before its statement is trusted:
//   ParseSignedStatement   the text is a well-formed statement
//                          (kMalformedSignature); check.strKey and
//                          check.statement say what it claims, not yet
//                          trusted: to pick a key by its id, or to refuse
//                          a format early.
//   CheckSignedStatement   and its signature verifies with key, whose id it
//                          names in format 2 (kBadSignature), and it names
//                          strProduct (kWrongProduct). Returns kGood with
//                          the signed statement, or the first failure.
//   CompareSignedDigest    the pack's size (kSizeMismatch) and digest
//                          (kDigestMismatch) are the signed ones.
// The size can be held against the statement before a byte of the pack is
// read, and the digest taken only of as many bytes as were signed.
PackSigCheck ParseSignedStatement(const std::string& strSigText);
PackSigCheck CheckSignedStatement(const std::string& strSigText, const PackPublicKey& key,
                                  const std::string& strProduct = kPackProduct);
PackSigStatus CompareSignedDigest(const PackStatement& statement, const PackDigest& digest);

// CheckSignedStatement, then CompareSignedDigest with the digest of a pack.
// Returns kGood with the signed statement, or the first failure.
PackSigCheck CheckPackSignature(const std::string& strSigText, const PackDigest& digest, const PackPublicKey& key,
                                const std::string& strProduct = kPackProduct);

// For the pack file strPackPath: ReadPackSignature, CheckSignedStatement,
// the file's size held against the signed one, and only then the digest of
// the file (kUnreadablePack with dwError when it cannot be read).
PackSigCheck VerifyPackSignature(const std::string& strPackPath, const PackPublicKey& key,
                                 const std::string& strProduct = kPackProduct);
