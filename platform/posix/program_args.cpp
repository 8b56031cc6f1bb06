// The program's arguments on POSIX: from the locale's character set to code
// page 936.
#include "platform/args.h"
#include "platform/posix/locale_charset.h"

std::vector<std::string> GetProgramArgs(int argc, char** argv) {
  std::vector<std::string> vecArgs;
  if (argv == nullptr) return vecArgs;
  for (int i = 0; i < argc && argv[i] != nullptr; ++i)
    vecArgs.push_back(ConvertCharset(argv[i], "CP936", LocaleCharset().c_str()));
  return vecArgs;
}
