// paktool's command line: the application with its description, global
// options, commands and help texts. The program parses with it; the manual
// page and the shell completion are generated from it (docs.h), so all
// three say the same.
#pragma once

#include <CLI/CLI.hpp>
#include <vector>

#include "tools/paktool/commands.h"

namespace paktool {

// Sets up a default-constructed app as paktool; returns its commands.
std::vector<CCommand> SetUpApp(CLI::App& app);

}  // namespace paktool
