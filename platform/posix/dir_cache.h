// Case-insensitive name lookup within a directory.
#pragma once

#include <string>

// The entry of the directory strDir whose name equals strName but for ASCII
// letter case, the first in NameLess order when several do; empty when there
// is none (or the directory cannot be read).
std::string FindIgnoringCase(const std::string& strDir, const std::string& strName);
