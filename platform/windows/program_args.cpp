// The program's arguments on Windows: read from the UTF-16 command line, so
// an argument in any script survives up to the conversion to code page 936
// (argv would hold it in the machine's ANSI code page, which may lack it).
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/args.h"
#include "platform/win32.h"
#include "platform/windows/wide_text.h"

// CommandLineToArgvW is in <shellapi.h>, which WIN32_LEAN_AND_MEAN leaves out.
#include <shellapi.h>

namespace {

struct CLocalFree {
  void operator()(LPWSTR* ppszArgs) const { LocalFree(ppszArgs); }
};

// Whether argv holds the arguments the C runtime made for main (a copy of
// them: mingw's start-up code duplicates the array before calling main).
// Only then is the command line the source of the arguments.
bool IsProcessArgv(int argc, char** argv) {
  if (argc != __argc || __argv == nullptr) return false;
  for (int i = 0; i < argc; ++i) {
    if (argv[i] == nullptr || __argv[i] == nullptr || std::strcmp(argv[i], __argv[i]) != 0) return false;
  }
  return true;
}

std::vector<std::string> FromAnsi(int argc, char** argv) {
  std::vector<std::string> vecArgs;
  for (int i = 0; i < argc && argv[i] != nullptr; ++i) {
    std::wstring strWide = AnsiToWide(argv[i]);
    vecArgs.push_back(WideToCp936(strWide.data(), strWide.size()));
  }
  return vecArgs;
}

}  // namespace

std::vector<std::string> GetProgramArgs(int argc, char** argv) {
  std::vector<std::string> vecArgs;
  if (argv == nullptr) return vecArgs;
  if (!IsProcessArgv(argc, argv)) return FromAnsi(argc, argv);
  int nCount = 0;
  std::unique_ptr<LPWSTR, CLocalFree> spArgs(CommandLineToArgvW(GetCommandLineW(), &nCount));
  // The C runtime and CommandLineToArgvW split alike; should they ever
  // disagree, keep to the arguments main was given.
  if (!spArgs || nCount != argc) return FromAnsi(argc, argv);
  for (int i = 0; i < nCount; ++i) {
    const wchar_t* pszArg = spArgs.get()[i];
    vecArgs.push_back(WideToCp936(pszArg, wcslen(pszArg)));
  }
  return vecArgs;
}
