// Key pairs and key files of signed updates.
#include <algorithm>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "platform/private_file.h"
#include "platform/scoped_handle.h"
#include "tools/filepacktools_lib/ed25519.h"
#include "tools/filepacktools_lib/hextext.h"
#include "tools/filepacktools_lib/packsign.h"
#include "tools/filepacktools_lib/signtext.h"

static_assert(kPackKeySize == kEd25519KeySize, "pack keys are Ed25519 keys");
static_assert(kPackKeyIdSize == kEd25519KeyIdSize, "key ids are Ed25519 key ids");

namespace {

const char kIdField[] = "id";
const char kSeedField[] = "seed";
const char kPublicField[] = "public";

// Wipes a string holding secret text when it goes.
class CWipedText {
 public:
  ~CWipedText() {
    if (!m_str.empty()) WipeBytes(&m_str[0], m_str.size());
  }
  std::string& Text() { return m_str; }

 private:
  std::string m_str;
};

// Reads the fields of a key file's text, telling a file of another kind or
// format version from a damaged one. Format 2 has an id line besides
// vecNames; format 1 has none.
PackKeyStatus ParseKeyText(const std::string& strText, const char* pszKind, std::vector<const char*> vecNames,
                           CSignFields& fields) {
  switch (MatchHeader(strText, pszKind, kKeyFormatVersion)) {
    case HeaderMatch::kMatch:
      vecNames.insert(vecNames.begin(), kIdField);
      break;
    case HeaderMatch::kOtherVersion:
      if (MatchHeader(strText, pszKind, kSignFormatVersion) != HeaderMatch::kMatch) {
        return PackKeyStatus::kUnsupportedFormat;
      }
      break;
    case HeaderMatch::kOtherKind:
      return PackKeyStatus::kWrongKind;
    case HeaderMatch::kForeign:
      return PackKeyStatus::kNotAKeyFile;
  }
  std::string strField;
  return ReadSignFields(strText, {vecNames, {}, nullptr}, nullptr, fields, strField) == SigFileFault::kNone
             ? PackKeyStatus::kOk
             : PackKeyStatus::kDamaged;
}

// The public key of a key file's fields: a curve point, and the key the id
// line (when there is one) names.
PackKeyStatus TakePublicKey(CSignFields& fields, PackPublicKey& key) {
  if (!ParseHex(fields.mapValues[kPublicField], key.byKey, kPackKeySize)) return PackKeyStatus::kDamaged;
  if (!Ed25519Ready()) return PackKeyStatus::kNoCrypto;
  if (!Ed25519IsPublicKey(key.byKey)) return PackKeyStatus::kNotAPoint;
  const auto itId = fields.mapValues.find(kIdField);
  return itId == fields.mapValues.end() || itId->second == PackKeyId(key) ? PackKeyStatus::kOk
                                                                          : PackKeyStatus::kDamaged;
}

PackKeyStatus ReadKeyFile(const std::string& strPath, std::string& strText) {
  if (ReadWholeFile(strPath.c_str(), strText, kMaxSignFileSize)) return PackKeyStatus::kOk;
  return GetLastError() == ERROR_FILE_TOO_LARGE ? PackKeyStatus::kNotAKeyFile : PackKeyStatus::kUnreadable;
}

bool Exists(const std::string& strPath) { return GetFileAttributesA(strPath.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Writes the text into the new file hNew opened for strPath and flushes it;
// a file that could not be written whole is deleted.
PackKeyStatus WriteKeyFile(HANDLE hNew, const std::string& strPath, const std::string& strText) {
  CScopedHandle hFile(hNew);
  if (!hFile) return GetLastError() == ERROR_FILE_EXISTS ? PackKeyStatus::kExists : PackKeyStatus::kWriteFailed;
  if (WriteAll(hFile.Get(), strText.data(), strText.size()) && FlushFileBuffers(hFile.Get())) return PackKeyStatus::kOk;
  hFile.Reset();
  DeleteKeepingError(strPath);
  return PackKeyStatus::kWriteFailed;
}

}  // namespace

PackSecretKey::~PackSecretKey() { WipeBytes(bySeed, sizeof(bySeed)); }

const char* PackKeyReason(PackKeyStatus status) {
  switch (status) {
    case PackKeyStatus::kOk:
      return "key read";
    case PackKeyStatus::kExists:
      return "already exists; nothing written";
    case PackKeyStatus::kUnreadable:
      return "cannot be read";
    case PackKeyStatus::kNotAKeyFile:
      return "not a key file";
    case PackKeyStatus::kWrongKind:
      return "the wrong kind of file: a key of the other kind, or a signature file";
    case PackKeyStatus::kUnsupportedFormat:
      return "a key file in a format version this program does not know";
    case PackKeyStatus::kDamaged:
      return "damaged key file";
    case PackKeyStatus::kNotAPoint:
      return "not an Ed25519 public key (no point of the curve, or one of small order)";
    case PackKeyStatus::kWriteFailed:
      return "cannot be written";
    case PackKeyStatus::kNoCrypto:
      return "the cryptographic library offers no Ed25519 here";
  }
  return "unknown key status";
}

PackKeyStatus GeneratePackKeys(const std::string& strPrefix) {
  const std::string strSecretPath = strPrefix + kSecretKeySuffix;
  const std::string strPublicPath = strPrefix + kPublicKeySuffix;
  if (Exists(strSecretPath) || Exists(strPublicPath)) return PackKeyStatus::kExists;
  PackSecretKey key;
  if (!Ed25519NewSeed(key.bySeed) || !Ed25519PublicKey(key.bySeed, key.publicKey.byKey))
    return PackKeyStatus::kNoCrypto;

  const std::string strPublicHex = HexText(key.publicKey.byKey, kPackKeySize);
  const std::string strIdLine = FieldLine(kIdField, PackKeyId(key.publicKey));
  CWipedText secret;
  secret.Text() = HeaderLine(kSecretKeyKind, kKeyFormatVersion) + strIdLine +
                  FieldLine(kSeedField, HexText(key.bySeed, kPackKeySize)) + FieldLine(kPublicField, strPublicHex);
  PackKeyStatus status = WriteKeyFile(CreateOwnerOnlyFileA(strSecretPath.c_str()), strSecretPath, secret.Text());
  if (status != PackKeyStatus::kOk) return status;
  HANDLE hPublic =
      CreateFileA(strPublicPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  status =
      WriteKeyFile(hPublic, strPublicPath,
                   HeaderLine(kPublicKeyKind, kKeyFormatVersion) + strIdLine + FieldLine(kPublicField, strPublicHex));
  if (status != PackKeyStatus::kOk) DeleteKeepingError(strSecretPath);
  return status;
}

PackKeyStatus ParsePackPublicKey(const std::string& strText, PackPublicKey& key) {
  CSignFields fields;
  const PackKeyStatus status = ParseKeyText(strText, kPublicKeyKind, {kPublicField}, fields);
  return status == PackKeyStatus::kOk ? TakePublicKey(fields, key) : status;
}

PackKeyStatus ReadPackPublicKey(const std::string& strPath, PackPublicKey& key) {
  std::string strText;
  const PackKeyStatus status = ReadKeyFile(strPath, strText);
  return status == PackKeyStatus::kOk ? ParsePackPublicKey(strText, key) : status;
}

PackKeyStatus ReadPackSecretKey(const std::string& strPath, PackSecretKey& key) {
  CWipedText text;
  PackKeyStatus status = ReadKeyFile(strPath, text.Text());
  CSignFields fields;
  if (status == PackKeyStatus::kOk)
    status = ParseKeyText(text.Text(), kSecretKeyKind, {kSeedField, kPublicField}, fields);
  if (status != PackKeyStatus::kOk) return status;
  PackPublicKey recorded;
  const bool bParsed = ParseHex(fields.mapValues[kSeedField], key.bySeed, kPackKeySize);
  WipeBytes(&fields.mapValues[kSeedField][0], fields.mapValues[kSeedField].size());
  if (!bParsed) return PackKeyStatus::kDamaged;
  status = TakePublicKey(fields, recorded);
  if (status != PackKeyStatus::kOk) return status;
  if (!Ed25519PublicKey(key.bySeed, key.publicKey.byKey)) return PackKeyStatus::kNoCrypto;
  return std::equal(recorded.byKey, recorded.byKey + kPackKeySize, key.publicKey.byKey) ? PackKeyStatus::kOk
                                                                                        : PackKeyStatus::kDamaged;
}

std::string PackKeyId(const PackPublicKey& key) {
  unsigned char byId[kPackKeyIdSize];
  return Ed25519KeyId(key.byKey, byId) ? HexText(byId, kPackKeyIdSize) : std::string();
}

bool IsPackKeyId(const std::string& strText) {
  unsigned char byId[kPackKeyIdSize];
  return ParseHex(strText, byId, kPackKeyIdSize);
}

const PackPublicKey* FindPackKey(const std::vector<PackPublicKey>& vecKeys, const std::string& strKeyId) {
  for (const PackPublicKey& key : vecKeys) {
    if (!strKeyId.empty() && PackKeyId(key) == strKeyId) return &key;
  }
  return nullptr;
}
