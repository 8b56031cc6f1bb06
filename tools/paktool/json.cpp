#include "tools/paktool/json.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "platform/cp936.h"
#include "tools/paktool/packpath.h"

namespace paktool {

std::string JsonText(const std::string& strCp936) {
  std::string strUtf8;
  if (Cp936ToUtf8(strCp936, strUtf8)) return strUtf8;
  // Character by character, so one bad one costs only itself.
  strUtf8.clear();
  for (size_t i = 0; i < strCp936.size();) {
    const bool bDouble = Cp936IsLeadByte(static_cast<unsigned char>(strCp936[i])) && i + 1 < strCp936.size();
    const size_t nLength = bDouble ? 2 : 1;
    std::string strChar;
    strUtf8 += Cp936ToUtf8(strCp936.substr(i, nLength), strChar) ? strChar : "?";
    i += nLength;
  }
  return strUtf8;
}

std::string JsonName(const std::string& strName) { return JsonText(ShownName(strName)); }

void PrintJson(const nlohmann::json& document) {
  const std::string strText = document.dump(2) + '\n';
  std::fwrite(strText.data(), 1, strText.size(), stdout);
  std::fflush(stdout);
}

}  // namespace paktool
