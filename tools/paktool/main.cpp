// paktool: builds, lists, extracts, diffs, merges, compacts, verifies and
// signs packs (.pak) for the people who prepare client packs and update packs.
//
//   paktool COMMAND [OPTIONS] ARGS...   (paktool COMMAND --help for each)
//
// Exit status: 0 success, 1 failure, 2 usage error, 3 nothing to update
// (diff). paktool --version prints the project's version.
#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "platform/args.h"
#include "platform/terminal.h"
#include "tools/paktool/app.h"
#include "tools/paktool/output.h"

namespace {

// --help (also of a command) prints help and succeeds; every other parse
// error is a usage error.
int ParseFailure(const CLI::App& app, const CLI::ParseError& error) {
  if (error.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) {
    app.exit(error);
    return paktool::kExitOk;
  }
  std::string strCommand;
  for (const CLI::App* pSub : app.get_subcommands()) strCommand = ' ' + pSub->get_name();
  paktool::PrintErrorLine("paktool" + strCommand + ": " + error.what());
  paktool::PrintErrorLine("Run 'paktool" + strCommand + " --help' for more information.");
  return paktool::kExitUsage;
}

// The first argument, when it is neither an option nor a command.
bool IsUnknownCommand(const CLI::App& app, const std::vector<std::string>& vecArgs) {
  if (vecArgs.size() < 2 || vecArgs[1].empty() || vecArgs[1][0] == '-') return false;
  for (const CLI::App* pSub : app.get_subcommands({})) {
    if (pSub->get_name() == vecArgs[1]) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // Arguments arrive in code page 936 (from the terminal's character set on
  // POSIX, from the UTF-16 command line on Windows).
  const std::vector<std::string> vecArgs = GetProgramArgs(argc, argv);
  // Output is the same bytes on every platform, and cat's bytes stay as
  // they are: no "\n" to "\r\n" on Windows.
  SetStdoutBinary();

  CLI::App app;
  const std::vector<paktool::CCommand> vecCommands = paktool::SetUpApp(app);

  if (IsUnknownCommand(app, vecArgs)) {
    paktool::PrintErrorLine("paktool: unknown command '" + vecArgs[1] + "'");
    paktool::PrintErrorLine("Run 'paktool --help' for the commands.");
    return paktool::kExitUsage;
  }
  // CLI11 takes the arguments after the program name in reverse order.
  std::vector<std::string> vecRest;
  if (!vecArgs.empty()) vecRest.assign(vecArgs.rbegin(), vecArgs.rend() - 1);
  try {
    app.parse(vecRest);
  } catch (const CLI::ParseError& error) {
    return ParseFailure(app, error);
  }
  for (const paktool::CCommand& command : vecCommands) {
    if (command.pApp->parsed()) return command.fnRun();
  }
  return paktool::kExitUsage;
}
