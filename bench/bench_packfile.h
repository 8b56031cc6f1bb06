// Pack files as the benchmarks see them: their index read directly, paths
// for the platform layer, and a pack of many entries written directly.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tools/filepacktools_lib/packrecords.h"

namespace bench {

struct CPackIndex {
  PackHeader header;
  std::vector<PackEntry> vecEntries;
};

// Reads the header and the entry index; throws when the file is short.
CPackIndex ReadPackIndex(const std::filesystem::path& path);

// The path as the library takes it: backslashes (the platform layer maps
// \work\x to /work/x).
std::string ProgramPath(const std::filesystem::path& path);

// A plain pack of nEntries entries of 16 bytes each below root "res", in
// 500-entry directories, laid out as a build lays it out.
void WriteManyEntryPack(const std::filesystem::path& path, size_t nEntries);

// Flushes a file to the disk.
void FlushFile(const std::filesystem::path& path);

}  // namespace bench
