#include "platform/text_case.h"

std::string LowerCopy(const std::string& str) {
  std::string strLower(str);
  for (char& ch : strLower) {
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch + ('a' - 'A'));
  }
  return strLower;
}
