// paktool's manual page and bash completion, written from the application
// that parses its command line (app.h): the commands, their arguments and
// options with their help texts and the commands' footers.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

namespace paktool {

// The manual page paktool.1 (roff, man macros) of strVersion.
std::string ManPage(const CLI::App& app, const std::string& strVersion);

// A bash completion script: commands, and each command's options.
std::string BashCompletion(const CLI::App& app);

}  // namespace paktool
