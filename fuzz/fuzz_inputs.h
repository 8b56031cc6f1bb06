// The inputs every fuzz target starts from, generated here rather than
// checked in: the seed corpora and the kept cases. make_fuzz_seeds writes
// them out for libFuzzer; each target's replay runs them directly.
#pragma once

#include <string>
#include <vector>

struct CFuzzInput {
  std::string strName;  // a file name: seed-N, or kept-<what it is about>
  std::string strBytes;
};

// The fuzz targets: the list in fuzz/CMakeLists.txt, in its order.
const std::vector<std::string>& FuzzTargets();

// The seed corpus of the named target: packs of every shape, updates for
// the fixed client, Lzma86 streams or undo journals, named seed-N. Empty
// for a name that is no target. Throws std::runtime_error when a seed
// cannot be made (the journals are written by the library, into a sandbox
// of their own).
std::vector<CFuzzInput> FuzzSeeds(const std::string& strTarget);

// The inputs kept for good for the named target, named kept-<what>: each
// once broke it, or lies on an edge the seeds do not reach. Empty for a
// name that is no target; throws as FuzzSeeds does. An input that breaks a
// target is added here (fuzz_cases.cpp), built with MakePack or written
// out as bytes, when its fault is fixed, so every build replays it from
// then on.
std::vector<CFuzzInput> KeptFuzzCases(const std::string& strTarget);

// The seeds, then the kept cases: what make_fuzz_seeds writes and a replay
// runs. Empty for a name that is no target; throws as FuzzSeeds does.
std::vector<CFuzzInput> FuzzCorpus(const std::string& strTarget);
