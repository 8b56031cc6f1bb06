// The subcommands of paktool. Each Add*Command registers its subcommand,
// its options and its help on the application and returns how to run it
// once the command line was parsed into its options.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>

namespace paktool {

struct CCommand {
  CLI::App* pApp;
  std::function<int()> fnRun;  // returns the exit status
};

CCommand AddBuildCommand(CLI::App& app);
CCommand AddListCommand(CLI::App& app);
CCommand AddInfoCommand(CLI::App& app);
CCommand AddExtractCommand(CLI::App& app);
CCommand AddCatCommand(CLI::App& app);
CCommand AddMergeCommand(CLI::App& app);
CCommand AddDiffCommand(CLI::App& app);
CCommand AddCompactCommand(CLI::App& app);
CCommand AddVerifyCommand(CLI::App& app);
CCommand AddKeygenCommand(CLI::App& app);
CCommand AddSignCommand(CLI::App& app);
CCommand AddManifestCommand(CLI::App& app);
CCommand AddApplyDeltaCommand(CLI::App& app);

}  // namespace paktool
