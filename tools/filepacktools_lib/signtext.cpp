#include "tools/filepacktools_lib/signtext.h"

#include <algorithm>

namespace {

const char* const kOurKinds[] = {kSecretKeyKind, kPublicKeyKind, kStatementKind};

// A name: lower-case letters and digits, starting with a letter.
bool IsFieldName(const std::string& strName) {
  if (strName.empty() || strName[0] < 'a' || strName[0] > 'z') return false;
  return std::all_of(strName.begin(), strName.end(),
                     [](char ch) { return (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9'); });
}

// Splits "name value" at its first space; the value has no control bytes.
bool SplitField(const std::string& strLine, std::string& strName, std::string& strValue) {
  const size_t nSpace = strLine.find(' ');
  if (nSpace == std::string::npos || nSpace + 1 == strLine.size()) return false;
  strName = strLine.substr(0, nSpace);
  strValue = strLine.substr(nSpace + 1);
  const bool bPrintable = std::all_of(strValue.begin(), strValue.end(), [](char ch) {
    const unsigned char by = static_cast<unsigned char>(ch);
    return by >= 0x20 && by != 0x7F;
  });
  return IsFieldName(strName) && bPrintable;
}

bool IsKnown(const std::vector<const char*>& vecNames, const std::string& strName) {
  return std::any_of(vecNames.begin(), vecNames.end(), [&](const char* psz) { return strName == psz; });
}

}  // namespace

HeaderMatch MatchHeader(const std::string& strText, const char* pszKind, const char* pszVersion) {
  const std::string strLine = strText.substr(0, strText.find('\n'));
  const size_t nSpace = strLine.find(' ');
  const std::string strKind = strLine.substr(0, nSpace);
  const std::string strVersion = nSpace == std::string::npos ? std::string() : strLine.substr(nSpace + 1);
  if (strKind == pszKind) return strVersion == pszVersion ? HeaderMatch::kMatch : HeaderMatch::kOtherVersion;
  for (const char* pszOurs : kOurKinds) {
    if (strKind == pszOurs) return HeaderMatch::kOtherKind;
  }
  return HeaderMatch::kForeign;
}

std::string HeaderLine(const char* pszKind, const char* pszVersion) {
  return std::string(pszKind) + ' ' + pszVersion + '\n';
}

std::string FieldLine(const char* pszName, const std::string& strValue) {
  return std::string(pszName) + ' ' + strValue + '\n';
}

SigFileFault ReadSignFields(const std::string& strText, const CFieldRules& rules, const char* pszStop,
                            CSignFields& fields, std::string& strField) {
  size_t nStart = strText.find('\n');
  if (nStart == std::string::npos) return SigFileFault::kTruncated;
  ++nStart;
  bool bStopped = false;
  while (nStart < strText.size() && !bStopped) {
    strField.clear();
    const size_t nEnd = strText.find('\n', nStart);
    if (nEnd == std::string::npos) return SigFileFault::kTruncated;
    std::string strName;
    std::string strValue;
    if (!SplitField(strText.substr(nStart, nEnd - nStart), strName, strValue)) return SigFileFault::kBadLine;
    strField = strName;
    if (rules.pszRepeated != nullptr && strName == rules.pszRepeated) {
      fields.vecRepeated.push_back(std::move(strValue));
    } else if (!IsKnown(rules.vecNames, strName) && !IsKnown(rules.vecOptional, strName)) {
      return SigFileFault::kUnknownField;
    } else if (!fields.mapValues.emplace(strName, strValue).second) {
      return SigFileFault::kDuplicateField;
    }
    bStopped = pszStop != nullptr && strName == pszStop;
    fields.nLastStart = nStart;
    nStart = nEnd + 1;
  }
  strField.clear();
  if (bStopped && nStart < strText.size()) return SigFileFault::kTrailingData;
  if (pszStop != nullptr && !bStopped) return SigFileFault::kTruncated;
  for (const char* pszName : rules.vecNames) {
    if (fields.mapValues.count(pszName) == 0) {
      strField = pszName;
      return SigFileFault::kMissingField;
    }
  }
  return SigFileFault::kNone;
}
