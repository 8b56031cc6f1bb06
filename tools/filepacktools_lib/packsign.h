// Signed update packs. A publisher signs an update pack with an Ed25519
// secret key; the signature lives in a small text file beside the pack
// (<pack>.sig), so the pack format stays as it is. What is signed is a
// statement: the product the update is for, the pack's size and SHA-512
// digest, and the version the update brings. Whoever holds the matching
// public key (the updater has it built in) can tell that the pack is the
// one the publisher signed, for this product, and which version it is.
//
// Files, all small text files of lines ending in LF, the first line naming
// the kind of file and its format version:
//
//   PREFIX.key   patchloom-ed25519-secret-key 1
//                seed <64 hex digits: the Ed25519 secret key>
//                public <64 hex digits: its public key, a check on the seed>
//   PREFIX.pub   patchloom-ed25519-public-key 1
//                public <64 hex digits>
//   PACK.sig     patchloom-update-statement 1
//                product <name>
//                size <the pack's size in bytes, decimal>
//                sha512 <128 hex digits: SHA-512 of the whole pack file>
//                version <the version text>
//                signature <128 hex digits>
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

#include "platform/win32.h"

// ---- Names -------------------------------------------------------------

// The product statements name unless the caller names another: the game
// client this updater serves. A key shared by two games cannot carry an
// update of one into the other, since each checks its own name.
extern const char kPackProduct[];

// File name suffixes: PREFIX.key, PREFIX.pub, and the pack's path + ".sig".
extern const char kSecretKeySuffix[];
extern const char kPublicKeySuffix[];
extern const char kSignatureSuffix[];

// The signature file of a pack: its path with ".sig" appended.
std::string PackSignaturePath(const std::string& strPackPath);

// True when strText may be a product name or a version text in a
// statement: 1 to 64 bytes, each a printable ASCII character other than
// the space (0x21-0x7E).
bool IsStatementText(const std::string& strText);

// ---- Keys ----------------------------------------------------------------

constexpr size_t kPackKeySize = 32;

struct PackPublicKey {
  unsigned char byKey[kPackKeySize] = {};
};

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
  kDamaged,            // the right kind and format, but its lines are not right
  kWriteFailed,        // keygen: a file could not be written (last error set)
  kNoCrypto,           // libgcrypt refuses Ed25519 (as in FIPS mode)
};

// A short English text for a status ("not a key file", ...).
const char* PackKeyReason(PackKeyStatus status);

// Generates a key pair and writes PREFIX.key, readable and writable by its
// owner only (CreateOwnerOnlyFileA), and PREFIX.pub.
//   strPrefix  the paths without suffix, code page 936.
// Returns kOk; kExists, writing nothing, when either file exists (neither
// is ever replaced); kWriteFailed with the last error set when a file
// cannot be created or written (no file is left then); kNoCrypto.
PackKeyStatus GeneratePackKeys(const std::string& strPrefix);

// Reads a public key file (PREFIX.pub) or its text. The text form lets a
// program carry a key built into it.
// Returns kOk with key filled, or the status saying what is wrong; key is
// unspecified then. kUnreadable leaves the system's error as last error.
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

// ---- Signing -------------------------------------------------------------

// The text of a signature file: the statement of digest, strVersion and
// strProduct, signed with key.
//   strVersion, strProduct  must pass IsStatementText.
// Returns false with ERROR_INVALID_PARAMETER for a text that does not, or
// ERROR_NOT_SUPPORTED when libgcrypt refuses to sign.
bool MakePackSignature(const PackDigest& digest, const PackSecretKey& key, const std::string& strVersion,
                       const std::string& strProduct, std::string& strSigText);

// Signs the pack file strPackPath: writes PackSignaturePath(strPackPath),
// replacing an older one (written to <sig>.tmp first, then moved over it,
// so a failed signing leaves the older file as it was). The pack is only
// read.
// Returns false with the last error set: the pack cannot be read, the
// texts are not statement texts (ERROR_INVALID_PARAMETER), libgcrypt
// refuses (ERROR_NOT_SUPPORTED), or the file cannot be written.
bool SignPack(const std::string& strPackPath, const PackSecretKey& key, const std::string& strVersion,
              const std::string& strProduct = kPackProduct);

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
  kBadSignature = 0x20000004,         // not signed by this key, or changed since
  kWrongProduct = 0x20000005,         // signed, but for another product
  kSizeMismatch = 0x20000006,         // the pack's size is not the signed size
  kDigestMismatch = 0x20000007,       // the pack's bytes are not the signed bytes
  kUnreadablePack = 0x20000008,       // the pack cannot be read to digest it
  kNoCrypto = 0x20000009,             // libgcrypt refuses SHA-512 or Ed25519
};

// What is wrong with a malformed signature file.
enum class SigFileFault {
  kNone,
  kTooLong,            // larger than any statement can be (4 KiB)
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

struct PackSigCheck {
  PackSigStatus status = PackSigStatus::kNoSignature;
  SigFileFault fault = SigFileFault::kNone;  // kMalformedSignature: what is wrong
  std::string strField;                      // the field a fault is about, if any
  std::string strVersion;                    // the signed version, once the signature is good
  std::string strProduct;                    // the signed product, once the signature is good
  DWORD dwError = ERROR_SUCCESS;             // kUnreadable*: the system's error
};

// A short English text for a status ("no signature file", ...), and for a
// whole result: the status's text, with the fault and field of a malformed
// file ("malformed signature file: field given twice: size") and the
// product of a wrong one.
const char* PackSigReason(PackSigStatus status);
std::string PackSigText(const PackSigCheck& check);

// Reads the signature file of a pack into strSigText.
// Returns kGood; kNoSignature when the file does not exist; kUnreadable-
// Signature with dwError when it cannot be opened or read; kMalformed-
// Signature (kTooLong) when it is larger than 4 KiB.
PackSigCheck ReadPackSignature(const std::string& strPackPath, std::string& strSigText);

// Checks a signature file's text against the digest of a pack, in this
// order: the text is a well-formed statement (kMalformedSignature), its
// signature verifies with key (kBadSignature), it names strProduct
// (kWrongProduct), the pack's size (kSizeMismatch) and digest
// (kDigestMismatch) are the signed ones. Returns kGood with the signed
// version, or the first failure.
PackSigCheck CheckPackSignature(const std::string& strSigText, const PackDigest& digest, const PackPublicKey& key,
                                const std::string& strProduct = kPackProduct);

// ReadPackSignature, DigestPackFile (kUnreadablePack with dwError) and
// CheckPackSignature for the pack file strPackPath.
PackSigCheck VerifyPackSignature(const std::string& strPackPath, const PackPublicKey& key,
                                 const std::string& strProduct = kPackProduct);
