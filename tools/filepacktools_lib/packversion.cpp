#include "tools/filepacktools_lib/packversion.h"

#include <algorithm>
#include <vector>

namespace {

// The components of a dotted version without their leading zeros ("" for
// a zero), so that numbers of any length compare by length, then by digits.
std::vector<std::string> Components(const std::string& strText) {
  std::vector<std::string> vecParts(1);
  for (char ch : strText) {
    if (ch == '.') {
      vecParts.emplace_back();
    } else if (ch != '0' || !vecParts.back().empty()) {
      vecParts.back() += ch;
    }
  }
  return vecParts;
}

int CompareNumbers(const std::string& strLeft, const std::string& strRight) {
  if (strLeft.size() != strRight.size()) return strLeft.size() < strRight.size() ? -1 : 1;
  const int nOrder = strLeft.compare(strRight);
  return (nOrder > 0) - (nOrder < 0);
}

}  // namespace

bool IsDottedVersion(const std::string& strText) {
  bool bDigitBefore = false;
  for (char ch : strText) {
    if (ch == '.') {
      if (!bDigitBefore) return false;
      bDigitBefore = false;
    } else if (ch >= '0' && ch <= '9') {
      bDigitBefore = true;
    } else {
      return false;
    }
  }
  return bDigitBefore;
}

bool IsReleaseVersion(const std::string& strText) {
  if (!IsDottedVersion(strText)) return false;
  size_t nComponents = 1;
  size_t nDigits = 0;
  for (char ch : strText) {
    if (ch == '.') {
      ++nComponents;
      nDigits = 0;
    } else if (++nDigits > kMaxVersionDigits) {
      return false;
    }
  }
  return nComponents <= kMaxVersionComponents;
}

VersionOrder CompareVersions(const std::string& strVersion, const std::string& strBase) {
  if (!IsDottedVersion(strVersion) || !IsDottedVersion(strBase)) return VersionOrder::kNotDotted;
  const std::vector<std::string> vecVersion = Components(strVersion);
  const std::vector<std::string> vecBase = Components(strBase);
  const std::string strZero;
  for (size_t i = 0; i < std::max(vecVersion.size(), vecBase.size()); ++i) {
    const std::string& strLeft = i < vecVersion.size() ? vecVersion[i] : strZero;
    const std::string& strRight = i < vecBase.size() ? vecBase[i] : strZero;
    const int nOrder = CompareNumbers(strLeft, strRight);
    if (nOrder != 0) return nOrder < 0 ? VersionOrder::kOlder : VersionOrder::kNewer;
  }
  return VersionOrder::kSame;
}
