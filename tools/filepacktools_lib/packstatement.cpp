#include "tools/filepacktools_lib/packstatement.h"

#include <algorithm>
#include <vector>

#include "tools/filepacktools_lib/hextext.h"
#include "tools/filepacktools_lib/signtext.h"

namespace {

const char kProductField[] = "product";
const char kSizeField[] = "size";
const char kDigestField[] = "sha512";
const char kVersionField[] = "version";
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

// Takes the field values over, naming the first that is not in its form.
SigFileFault TakeValues(std::map<std::string, std::string>& mapValues, CSignedStatement& parsed,
                        std::string& strField) {
  PackStatement& statement = parsed.statement;
  statement.strProduct = mapValues[kProductField];
  statement.strVersion = mapValues[kVersionField];
  const std::pair<const char*, bool> checks[] = {
      {kProductField, IsStatementText(statement.strProduct)},
      {kSizeField, ParseSize(mapValues[kSizeField], statement.digest.qwSize)},
      {kDigestField, ParseHex(mapValues[kDigestField], statement.digest.byHash, kPackDigestSize)},
      {kVersionField, IsStatementText(statement.strVersion)},
      {kSignatureField, ParseHex(mapValues[kSignatureField], parsed.bySignature, kEd25519SignatureSize)},
  };
  for (const auto& check : checks) {
    if (!check.second) {
      strField = check.first;
      return SigFileFault::kBadValue;
    }
  }
  return SigFileFault::kNone;
}

}  // namespace

bool IsStatementText(const std::string& strText) {
  return !strText.empty() && strText.size() <= kMaxStatementText &&
         std::all_of(strText.begin(), strText.end(), [](char ch) { return ch >= 0x21 && ch <= 0x7E; });
}

std::string StatementText(const PackStatement& statement) {
  return HeaderLine(kStatementKind) + FieldLine(kProductField, statement.strProduct) +
         FieldLine(kSizeField, std::to_string(statement.digest.qwSize)) +
         FieldLine(kDigestField, HexText(statement.digest.byHash, kPackDigestSize)) +
         FieldLine(kVersionField, statement.strVersion);
}

std::string SignatureLine(const unsigned char* pbySignature) {
  return FieldLine(kSignatureField, HexText(pbySignature, kEd25519SignatureSize));
}

SigFileFault ParseSignatureFile(const std::string& strText, CSignedStatement& parsed, std::string& strField) {
  strField.clear();
  if (strText.size() > kMaxSignFileSize) return SigFileFault::kTooLong;
  switch (MatchHeader(strText, kStatementKind)) {
    case HeaderMatch::kMatch:
      break;
    case HeaderMatch::kOtherVersion:
      return SigFileFault::kUnsupportedFormat;
    case HeaderMatch::kOtherKind:
    case HeaderMatch::kForeign:
      return SigFileFault::kNotAStatement;
  }
  CSignFields fields;
  const std::vector<const char*> vecNames = {kProductField, kSizeField, kDigestField, kVersionField, kSignatureField};
  const SigFileFault fault = ReadSignFields(strText, vecNames, kSignatureField, fields, strField);
  if (fault != SigFileFault::kNone) return fault;
  parsed.strSigned = strText.substr(0, fields.nLastStart);
  return TakeValues(fields.mapValues, parsed, strField);
}
