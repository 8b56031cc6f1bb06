// Signing update packs and checking their signatures.
#include "tools/filepacktools_lib/packsign.h"

#include <cstring>

#include "platform/durable_replace.h"
#include "platform/file_io.h"
#include "platform/scoped_handle.h"
#include "tools/filepacktools_lib/ed25519.h"
#include "tools/filepacktools_lib/packstatement.h"
#include "tools/filepacktools_lib/signtext.h"

const char kPackProduct[] = "Veshmarkland";
const char kSecretKeySuffix[] = ".key";
const char kPublicKeySuffix[] = ".pub";
const char kSignatureSuffix[] = ".sig";
const char kStatementSuffix[] = ".statement";
const char kAnyBase[] = "any";

namespace {

const char kTempSuffix[] = ".tmp";

PackSigCheck Refusal(PackSigStatus status, DWORD dwError = ERROR_SUCCESS) {
  PackSigCheck check;
  check.status = status;
  check.dwError = dwError;
  return check;
}

const char* FaultText(SigFileFault fault) {
  switch (fault) {
    case SigFileFault::kNone:
      return "no fault";
    case SigFileFault::kTooLong:
      return "too long";
    case SigFileFault::kNotAStatement:
      return "not a signature file";
    case SigFileFault::kUnsupportedFormat:
      return "a format version this program does not know";
    case SigFileFault::kTruncated:
      return "truncated";
    case SigFileFault::kBadLine:
      return "a line that is not 'name value'";
    case SigFileFault::kUnknownField:
      return "unknown field";
    case SigFileFault::kDuplicateField:
      return "field given twice";
    case SigFileFault::kMissingField:
      return "field missing";
    case SigFileFault::kBadValue:
      return "bad value of field";
    case SigFileFault::kTrailingData:
      return "data after the signature";
  }
  return "unknown fault";
}

// Writes the file whole under a temporary name, then moves it over strPath.
bool ReplaceFile(const std::string& strPath, const std::string& strText) {
  const std::string strTemp = strPath + kTempSuffix;
  CScopedHandle hFile = CreateReplacement(strTemp, CREATE_ALWAYS);
  if (!hFile) return false;
  return CompleteReplacement(WriteAll(hFile.Get(), strText.data(), strText.size()), hFile, strTemp, strPath);
}

}  // namespace

std::string PackSignaturePath(const std::string& strPackPath) { return strPackPath + kSignatureSuffix; }

std::string PackStatementPath(const std::string& strPackPath) { return strPackPath + kStatementSuffix; }

std::string SigFaultText(SigFileFault fault, const std::string& strField) {
  return strField.empty() ? std::string(FaultText(fault)) : std::string(FaultText(fault)) + ": " + strField;
}

bool WritePackStatement(const std::string& strPackPath, const PackStatement& statement) {
  std::string strField;
  if (CheckStatement(statement, strField) != SigFileFault::kNone) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  return ReplaceFile(PackStatementPath(strPackPath), StatementText(statement));
}

bool ReadPackStatement(const std::string& strPackPath, PackStatement& statement, std::string& strWhy) {
  return ReadStatementFile(PackStatementPath(strPackPath), statement, strWhy);
}

bool ReadStatementFile(const std::string& strPath, PackStatement& statement, std::string& strWhy) {
  strWhy.clear();
  std::string strText;
  if (!ReadWholeFile(strPath.c_str(), strText, kMaxStatementFileSize)) {
    if (GetLastError() == ERROR_FILE_TOO_LARGE) strWhy = SigFaultText(SigFileFault::kTooLong, "");
    return false;
  }
  std::string strField;
  const SigFileFault fault = ParseStatementText(strText, statement, strField);
  if (fault == SigFileFault::kNone) return true;
  strWhy = SigFaultText(fault, strField);
  SetLastError(ERROR_INVALID_DATA);
  return false;
}

bool MakePackSignature(const PackStatement& statement, const PackSecretKey& key, std::string& strSigText) {
  PackStatement named = statement;
  const std::string strKey = PackKeyId(key.publicKey);
  if (strKey.empty()) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
  }
  std::string strField;
  if ((!named.strKey.empty() && named.strKey != strKey) || CheckStatement(named, strField) != SigFileFault::kNone) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  named.strKey = strKey;
  const std::string strStatement = StatementText(named);
  unsigned char bySignature[kEd25519SignatureSize];
  if (!Ed25519Sign(key.bySeed, strStatement, bySignature)) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
  }
  strSigText = strStatement + SignatureLine(bySignature);
  return true;
}

bool SignPackStatement(const std::string& strPackPath, const PackSecretKey& key, const PackStatement& statement) {
  PackDigest digest;
  if (!DigestPackFile(strPackPath, digest)) return false;
  if (digest.qwSize != statement.digest.qwSize ||
      std::memcmp(digest.byHash, statement.digest.byHash, kPackDigestSize) != 0) {
    SetLastError(ERROR_INVALID_DATA);
    return false;
  }
  std::string strSigText;
  return MakePackSignature(statement, key, strSigText) && ReplaceFile(PackSignaturePath(strPackPath), strSigText);
}

bool SignPack(const std::string& strPackPath, const PackSecretKey& key, const std::string& strVersion,
              const std::string& strProduct, const std::string& strBase) {
  PackStatement statement;
  statement.strProduct = strProduct;
  statement.strVersion = strVersion;
  statement.strBase = strBase;
  std::string strSigText;
  return DigestPackFile(strPackPath, statement.digest) && MakePackSignature(statement, key, strSigText) &&
         ReplaceFile(PackSignaturePath(strPackPath), strSigText);
}

const char* PackSigReason(PackSigStatus status) {
  switch (status) {
    case PackSigStatus::kGood:
      return "good signature";
    case PackSigStatus::kNoSignature:
      return "no signature file";
    case PackSigStatus::kUnreadableSignature:
      return "the signature file cannot be read";
    case PackSigStatus::kMalformedSignature:
      return "malformed signature file";
    case PackSigStatus::kBadSignature:
      return "bad signature: not signed with this key, or changed since";
    case PackSigStatus::kWrongProduct:
      return "signed for another product";
    case PackSigStatus::kSizeMismatch:
      return "the pack's size is not the signed size";
    case PackSigStatus::kDigestMismatch:
      return "the pack's digest is not the signed digest";
    case PackSigStatus::kUnreadablePack:
      return "the pack cannot be read";
    case PackSigStatus::kNoCrypto:
      return "the cryptographic library offers no Ed25519 or SHA-512 here";
  }
  return "unknown signature status";
}

std::string PackSigText(const PackSigCheck& check) {
  std::string strText = PackSigReason(check.status);
  if (check.status == PackSigStatus::kMalformedSignature) {
    strText += ": " + SigFaultText(check.fault, check.strField);
  } else if (check.status == PackSigStatus::kWrongProduct) {
    strText += ": " + check.strProduct;
  } else if (check.status == PackSigStatus::kBadSignature && !check.strKey.empty()) {
    strText += " (the statement names key " + check.strKey + ")";
  }
  return strText;
}

PackSigCheck ReadPackSignature(const std::string& strPackPath, std::string& strSigText) {
  if (ReadWholeFile(PackSignaturePath(strPackPath).c_str(), strSigText, kMaxStatementFileSize)) {
    return Refusal(PackSigStatus::kGood);
  }
  const DWORD dwError = GetLastError();
  if (dwError == ERROR_FILE_NOT_FOUND) return Refusal(PackSigStatus::kNoSignature, dwError);
  PackSigCheck check = Refusal(PackSigStatus::kMalformedSignature, dwError);
  if (dwError == ERROR_FILE_TOO_LARGE) {
    check.fault = SigFileFault::kTooLong;
  } else {
    check.status = PackSigStatus::kUnreadableSignature;
  }
  return check;
}

PackSigCheck ParseSignedStatement(const std::string& strSigText) {
  PackSigCheck check = Refusal(PackSigStatus::kMalformedSignature);
  CSignedStatement parsed;
  check.fault = ParseSignatureFile(strSigText, parsed, check.strField);
  if (check.fault != SigFileFault::kNone) return check;
  check.status = PackSigStatus::kGood;
  check.strKey = parsed.statement.strKey;
  check.statement = std::move(parsed.statement);
  return check;
}

PackSigCheck CheckSignedStatement(const std::string& strSigText, const PackPublicKey& key,
                                  const std::string& strProduct) {
  PackSigCheck check = Refusal(PackSigStatus::kMalformedSignature);
  CSignedStatement parsed;
  check.fault = ParseSignatureFile(strSigText, parsed, check.strField);
  if (check.fault != SigFileFault::kNone) return check;
  if (!Ed25519Ready()) return Refusal(PackSigStatus::kNoCrypto);
  check.strKey = parsed.statement.strKey;
  // A statement of format 2 names its key: one that names another is not
  // this key's, whatever its signature.
  const bool bOtherKey = parsed.statement.nFormat >= 2 && parsed.statement.strKey != PackKeyId(key);
  if (bOtherKey || !Ed25519Verify(key.byKey, parsed.strSigned, parsed.bySignature)) {
    check.status = PackSigStatus::kBadSignature;
    return check;
  }
  // From here on the statement's texts are the publisher's.
  const PackStatement& statement = parsed.statement;
  check.strVersion = statement.strVersion;
  check.strProduct = statement.strProduct;
  check.statement = statement;
  check.status = statement.strProduct != strProduct ? PackSigStatus::kWrongProduct : PackSigStatus::kGood;
  return check;
}

PackSigStatus CompareSignedDigest(const PackStatement& statement, const PackDigest& digest) {
  if (statement.digest.qwSize != digest.qwSize) return PackSigStatus::kSizeMismatch;
  if (std::memcmp(statement.digest.byHash, digest.byHash, kPackDigestSize) != 0) return PackSigStatus::kDigestMismatch;
  return PackSigStatus::kGood;
}

PackSigCheck CheckPackSignature(const std::string& strSigText, const PackDigest& digest, const PackPublicKey& key,
                                const std::string& strProduct) {
  PackSigCheck check = CheckSignedStatement(strSigText, key, strProduct);
  if (check.status == PackSigStatus::kGood) check.status = CompareSignedDigest(check.statement, digest);
  return check;
}

PackSigCheck VerifyPackSignature(const std::string& strPackPath, const PackPublicKey& key,
                                 const std::string& strProduct) {
  std::string strSigText;
  PackSigCheck check = ReadPackSignature(strPackPath, strSigText);
  if (check.status != PackSigStatus::kGood) return check;
  check = CheckSignedStatement(strSigText, key, strProduct);
  if (check.status != PackSigStatus::kGood) return check;
  // The size first: a pack of another size is refused unread.
  PackDigest digest;
  CScopedHandle hFile(CreateFileA(strPackPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  bool bRead = hFile && FileSize(hFile.Get(), digest.qwSize);
  if (bRead && digest.qwSize != check.statement.digest.qwSize) {
    check.status = PackSigStatus::kSizeMismatch;
    return check;
  }
  bRead = bRead && DigestPackHandle(hFile.Get(), digest);
  if (!bRead) {
    const DWORD dwError = GetLastError();
    return Refusal(dwError == ERROR_NOT_SUPPORTED ? PackSigStatus::kNoCrypto : PackSigStatus::kUnreadablePack, dwError);
  }
  check.status = CompareSignedDigest(check.statement, digest);
  return check;
}
