#include "tools/filepacktools_lib/packstatement.h"

#include <algorithm>
#include <vector>

#include "tools/filepacktools_lib/hextext.h"
#include "tools/filepacktools_lib/packmanifest.h"
#include "tools/filepacktools_lib/packversion.h"
#include "tools/filepacktools_lib/signtext.h"

namespace {

const char kProductField[] = "product";
const char kKeyField[] = "key";
const char kSizeField[] = "size";
const char kDigestField[] = "sha512";
const char kVersionField[] = "version";
const char kBaseField[] = "base";
const char kBaseReleaseField[] = "baserelease";
const char kReleaseField[] = "release";
const char kRemoveField[] = "remove";
const char kDeltaField[] = "delta";
const char kDeltaYes[] = "yes";
const char kSignatureField[] = "signature";

constexpr size_t kMaxStatementText = 64;

// Decimal digits without a leading zero (but "0"), within 64 bits.
bool ParseSize(const std::string& strText, uint64_t& qwSize) {
  if (strText.empty() || strText.size() > 20 || (strText[0] == '0' && strText.size() > 1)) return false;
  qwSize = 0;
  for (char ch : strText) {
    if (ch < '0' || ch > '9') return false;
    const uint64_t qwDigit = static_cast<uint64_t>(ch - '0');
    if (qwSize > (UINT64_MAX - qwDigit) / 10) return false;
    qwSize = qwSize * 10 + qwDigit;
  }
  return true;
}

bool IsBase(const std::string& strText) { return strText == kAnyBase || IsReleaseVersion(strText); }

bool IsOptionalDigest(const std::string& strText) { return strText.empty() || IsReleaseDigest(strText); }

// Removed names: each in name text, ascending, each once; none for a full
// update.
bool TakeRemovals(const std::vector<std::string>& vecTexts, PackStatement& statement) {
  statement.vecRemove.clear();
  for (const std::string& strText : vecTexts) {
    std::string strName;
    if (!DecodeNameText(strText, strName) || strName.empty()) return false;
    if (!statement.vecRemove.empty() && strName <= statement.vecRemove.back()) return false;
    statement.vecRemove.push_back(std::move(strName));
  }
  return true;
}

// The rules of a format-2 statement that involve more than one field: a
// full update names no base release and removes nothing; a delta needs its
// base release.
SigFileFault CheckBaseRules(const PackStatement& statement, std::string& strField) {
  if (statement.bDelta && statement.strBaseRelease.empty()) {
    strField = kDeltaField;
    return SigFileFault::kBadValue;
  }
  if (statement.strBase != kAnyBase) return SigFileFault::kNone;
  strField = !statement.strBaseRelease.empty() ? kBaseReleaseField : !statement.vecRemove.empty() ? kRemoveField : "";
  return strField.empty() ? SigFileFault::kNone : SigFileFault::kBadValue;
}

// Takes the field values over, naming the first that is not in its form.
SigFileFault TakeValues(CSignFields& fields, int nFormat, PackStatement& statement, std::string& strField) {
  std::map<std::string, std::string>& mapValues = fields.mapValues;
  statement.nFormat = nFormat;
  statement.strProduct = mapValues[kProductField];
  statement.strKey = mapValues[kKeyField];
  statement.strVersion = mapValues[kVersionField];
  statement.strBase = mapValues[kBaseField];
  statement.strBaseRelease = mapValues[kBaseReleaseField];
  statement.strRelease = mapValues[kReleaseField];
  statement.bDelta = mapValues.count(kDeltaField) != 0;
  const bool bFormat2 = nFormat == 2;
  const std::pair<const char*, bool> checks[] = {
      {kProductField, IsStatementText(statement.strProduct)},
      {kKeyField, statement.strKey.empty() || IsPackKeyId(statement.strKey)},
      {kSizeField, ParseSize(mapValues[kSizeField], statement.digest.qwSize)},
      {kDigestField, ParseHex(mapValues[kDigestField], statement.digest.byHash, kPackDigestSize)},
      {kVersionField, bFormat2 ? IsReleaseVersion(statement.strVersion) : IsStatementText(statement.strVersion)},
      {kBaseField, !bFormat2 || IsBase(statement.strBase)},
      {kBaseReleaseField, IsOptionalDigest(statement.strBaseRelease)},
      {kReleaseField, IsOptionalDigest(statement.strRelease)},
      {kRemoveField, TakeRemovals(fields.vecRepeated, statement)},
      {kDeltaField, !statement.bDelta || mapValues[kDeltaField] == kDeltaYes},
  };
  for (const auto& check : checks) {
    if (!check.second) {
      strField = check.first;
      return SigFileFault::kBadValue;
    }
  }
  return bFormat2 ? CheckBaseRules(statement, strField) : SigFileFault::kNone;
}

// The header's format: 1 or 2, or 0 with the fault.
int StatementFormat(const std::string& strText, SigFileFault& fault) {
  for (const char* pszVersion : {kStatementFormatVersion, kSignFormatVersion}) {
    switch (MatchHeader(strText, kStatementKind, pszVersion)) {
      case HeaderMatch::kMatch:
        return pszVersion == kSignFormatVersion ? 1 : 2;
      case HeaderMatch::kOtherVersion:
        fault = SigFileFault::kUnsupportedFormat;
        break;
      case HeaderMatch::kOtherKind:
      case HeaderMatch::kForeign:
        fault = SigFileFault::kNotAStatement;
        return 0;
    }
  }
  return 0;
}

CFieldRules Rules(int nFormat, bool bSigned) {
  CFieldRules rules;
  rules.vecNames = {kProductField, kSizeField, kDigestField, kVersionField};
  if (nFormat == 2) {
    rules.vecNames.push_back(kBaseField);
    rules.vecOptional = {kBaseReleaseField, kReleaseField, kDeltaField};
    rules.pszRepeated = kRemoveField;
    // A signed statement names its key; an unsigned one may, before it is
    // signed.
    if (bSigned) {
      rules.vecNames.push_back(kKeyField);
    } else {
      rules.vecOptional.push_back(kKeyField);
    }
  }
  if (bSigned) rules.vecNames.push_back(kSignatureField);
  return rules;
}

}  // namespace

bool IsStatementText(const std::string& strText) {
  return !strText.empty() && strText.size() <= kMaxStatementText &&
         std::all_of(strText.begin(), strText.end(), [](char ch) { return ch >= 0x21 && ch <= 0x7E; });
}

bool PackStatement::IsWholeRelease() const { return strBase == kAnyBase && !strRelease.empty(); }

SigFileFault CheckStatement(const PackStatement& statement, std::string& strField) {
  strField.clear();
  const std::string strText = StatementText(statement);
  if (strText.size() > kMaxStatementFileSize - 256) return SigFileFault::kTooLong;  // room for the signature
  PackStatement parsed;
  return ParseStatementText(strText, parsed, strField);
}

std::string StatementText(const PackStatement& statement) {
  std::string strText = HeaderLine(kStatementKind, kStatementFormatVersion) +
                        FieldLine(kProductField, statement.strProduct) +
                        (statement.strKey.empty() ? std::string() : FieldLine(kKeyField, statement.strKey)) +
                        FieldLine(kSizeField, std::to_string(statement.digest.qwSize)) +
                        FieldLine(kDigestField, HexText(statement.digest.byHash, kPackDigestSize)) +
                        FieldLine(kVersionField, statement.strVersion) + FieldLine(kBaseField, statement.strBase);
  if (!statement.strBaseRelease.empty()) strText += FieldLine(kBaseReleaseField, statement.strBaseRelease);
  if (!statement.strRelease.empty()) strText += FieldLine(kReleaseField, statement.strRelease);
  if (statement.bDelta) strText += FieldLine(kDeltaField, kDeltaYes);
  for (const std::string& strName : statement.vecRemove) strText += FieldLine(kRemoveField, EncodeNameText(strName));
  return strText;
}

std::string SignatureLine(const unsigned char* pbySignature) {
  return FieldLine(kSignatureField, HexText(pbySignature, kEd25519SignatureSize));
}

SigFileFault ParseSignatureFile(const std::string& strText, CSignedStatement& parsed, std::string& strField) {
  strField.clear();
  if (strText.size() > kMaxStatementFileSize) return SigFileFault::kTooLong;
  SigFileFault fault = SigFileFault::kNone;
  const int nFormat = StatementFormat(strText, fault);
  if (nFormat == 0) return fault;
  CSignFields fields;
  fault = ReadSignFields(strText, Rules(nFormat, true), kSignatureField, fields, strField);
  if (fault != SigFileFault::kNone) return fault;
  parsed.strSigned = strText.substr(0, fields.nLastStart);
  if (!ParseHex(fields.mapValues[kSignatureField], parsed.bySignature, kEd25519SignatureSize)) {
    strField = kSignatureField;
    return SigFileFault::kBadValue;
  }
  return TakeValues(fields, nFormat, parsed.statement, strField);
}

SigFileFault ParseStatementText(const std::string& strText, PackStatement& statement, std::string& strField) {
  strField.clear();
  if (strText.size() > kMaxStatementFileSize) return SigFileFault::kTooLong;
  SigFileFault fault = SigFileFault::kNone;
  if (StatementFormat(strText, fault) != 2)
    return fault == SigFileFault::kNone ? SigFileFault::kUnsupportedFormat : fault;
  CSignFields fields;
  fault = ReadSignFields(strText, Rules(2, false), nullptr, fields, strField);
  if (fault != SigFileFault::kNone) return fault;
  return TakeValues(fields, 2, statement, strField);
}
