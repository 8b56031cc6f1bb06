#include "tools/filepacktools_lib/packnames.h"

#include <cstring>
#include <vector>

#include "platform/cp936.h"

namespace {

// Split by bytes, keeping empty parts: a name with an empty component (or a
// backslash that is a trail byte next to one) is not safe.
std::vector<std::string> SplitAt(const std::string& str, char chSep) {
  std::vector<std::string> vecParts;
  size_t nStart = 0;
  for (size_t nSep; (nSep = str.find(chSep, nStart)) != std::string::npos; nStart = nSep + 1) {
    vecParts.push_back(str.substr(nStart, nSep - nStart));
  }
  vecParts.push_back(str.substr(nStart));
  return vecParts;
}

bool IsDeviceName(const std::string& strComponent) {
  std::string strBase = strComponent.substr(0, strComponent.find('.'));
  while (!strBase.empty() && strBase.back() == ' ') strBase.pop_back();
  if (strBase.empty()) return false;
  std::string strUpper = strBase;
  for (char& ch : strUpper) {
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
  }
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* pszDevice : kDevices) {
    if (strUpper == pszDevice) return true;
  }
  return strUpper.size() == 4 && (strUpper.compare(0, 3, "COM") == 0 || strUpper.compare(0, 3, "LPT") == 0) &&
         strUpper[3] >= '1' && strUpper[3] <= '9';
}

bool IsSafeComponent(const std::string& strComponent) {
  if (strComponent.empty() || strComponent == "." || strComponent == "..") return false;
  const char chLast = strComponent.back();
  if (chLast == '.' || chLast == ' ') return false;
  for (size_t i = 0; i < strComponent.size(); ++i) {
    const unsigned char by = static_cast<unsigned char>(strComponent[i]);
    if (Cp936IsLeadByte(by) && i + 1 < strComponent.size()) {
      ++i;  // a trail byte may look like '|' but is part of a character
      continue;
    }
    if (by < 0x20 || std::strchr("<>:\"/|?*", by)) return false;
  }
  return !IsDeviceName(strComponent);
}

}  // namespace

bool IsSafeEntryName(const std::string& strName) {
  for (const std::string& strComponent : SplitAt(strName, '\\')) {
    if (!IsSafeComponent(strComponent)) return false;
  }
  return true;
}
