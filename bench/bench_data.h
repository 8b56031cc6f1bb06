// The benchmark's data, generated: trees of text, x86 code taken from the
// system's binaries, and incompressible bytes, laid out like a client's
// resource directory. Everything is derived from fixed seeds, so every run
// measures the same bytes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace bench {

enum class Kind { kText, kCode, kNoise };

struct CFilePlan {
  std::string strRel;  // below the tree's root directory, '/' separated
  Kind kind;
  uint64_t qwSize;
  uint64_t qwSeed;
};

struct CTree {
  std::vector<CFilePlan> vecFiles;
  uint64_t Bytes() const;
  uint64_t Largest() const;
};

// x86-64 code: the ELF files of /usr/lib/x86_64-linux-gnu and /usr/bin, in
// name order, up to 128 MiB.
class CCodePool {
 public:
  CCodePool();
  // nSize bytes of code from position qwFrom on, wrapping around.
  std::string Slice(uint64_t qwFrom, size_t nSize) const;
  uint64_t Size() const { return m_strBytes.size(); }

 private:
  std::string m_strBytes;
};

// The client: a few thousand files of 1 KiB to 2 MiB, plus a few of 8 MiB,
// adding up to just over 1 GiB.
CTree PlanClientTree();
// A smaller tree of a few thousand files of 256 bytes to 128 KiB, small
// enough to compress several times within the run.
CTree PlanBuildTree();
// New content for 1% of the client's bytes: a file of the largest size,
// then files spread over the tree, some as large as before, some smaller,
// some larger.
CTree PlanUpdate(const CTree& client);

// The client of the churn: about 60 MiB in files of 1 KiB to 1 MiB.
CTree PlanChurnClient();
// Update nRound of the churn: about 7% of the current client's files, chosen
// afresh each round, with new content; a third of them grow (by 10 to
// 50%), a third shrink (by 10 to 50%), a third keep their size.
CTree PlanChurnUpdate(const CTree& current, unsigned nRound);

// Writes the tree's files below root; code slices start at qwCodeFrom.
void WriteTree(const CTree& tree, const std::filesystem::path& root, const CCodePool& pool, uint64_t qwCodeFrom);
// Every file's bytes, in the tree's order, into one file.
void WriteConcatenation(const CTree& tree, const std::filesystem::path& root, const std::filesystem::path& file);

}  // namespace bench
