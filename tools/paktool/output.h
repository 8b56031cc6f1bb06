// paktool's output. Every text inside the program is code page 936; it is
// converted to the terminal's character set on the way out. Results go to
// standard output, errors and the progress line to standard error.
#pragma once

#include <string>

namespace paktool {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
// diff: the releases hold nothing to update, so no update was written (and
// none an earlier run left is there), which a script must not take for one.
constexpr int kExitNothingToUpdate = 3;

// Writes a line of code page 936 text to standard output.
void PrintLine(const std::string& strText);

// Writes a line to standard error, first clearing a progress line that is
// showing there.
void PrintErrorLine(const std::string& strText);

// Replaces the progress line on standard error by strText. Does nothing
// unless standard error is a terminal.
void ShowProgress(const std::string& strText);

// Removes the progress line, if one is showing.
void ClearProgress();

}  // namespace paktool
