// What a caller asks of an extraction of several files (CPackFile's
// ExtractFiles): the entries, their files, and a report after each.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

// One file: the entry's name, as ExtractFile takes it, and the output file.
struct CExtractRequest {
  std::string strName;
  std::string strOutFile;
};

// Called after each request, on the caller's thread and in list order, with
// the request's index and ExtractFile's result; after a 0 the last error
// says why (ERROR_FILE_NOT_FOUND for an unknown name, ERROR_INVALID_DATA for
// an entry that cannot be decoded).
using ExtractNotify = std::function<void(size_t nIndex, int nResult)>;
