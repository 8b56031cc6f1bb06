// paktool's JSON output (--json): documents for scripts, written to
// standard output as UTF-8 whatever the terminal's character set. Every
// command that writes JSON builds its document with nlohmann's json and
// these helpers, so names and sizes look the same in all of them: names
// as UTF-8 text with '/' between components, sizes as numbers of bytes.
#pragma once

#include <nlohmann/json_fwd.hpp>
#include <string>

namespace paktool {

// Code page 936 text (a path, a message) as UTF-8; a byte sequence that is
// not a character of the code page becomes '?'.
std::string JsonText(const std::string& strCp936);

// A name inside a pack as UTF-8 with '/' between components.
std::string JsonName(const std::string& strName);

// Writes the document to standard output, indented, with a line end.
void PrintJson(const nlohmann::json& document);

}  // namespace paktool
