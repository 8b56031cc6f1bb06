// Writes the seed corpora of the fuzz targets, each target's seeds and kept
// cases (fuzz_inputs.h), for libFuzzer to start from.
//   make_fuzz_seeds DIR   writes DIR/<target>/<input name>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include "fuzz/fuzz_inputs.h"
#include "fuzz/fuzz_sandbox.h"

namespace fs = std::filesystem;

int main(int argc, char* argv[]) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_fuzz_seeds DIR\n");
    return 2;
  }
  try {
    const fs::path dir = fs::absolute(argv[1]);
    for (const std::string& strTarget : FuzzTargets()) {
      fs::create_directories(dir / strTarget);
      for (const CFuzzInput& input : FuzzCorpus(strTarget)) WriteBytes(dir / strTarget / input.strName, input.strBytes);
    }
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "make_fuzz_seeds: %s\n", error.what());
    return 1;
  }
}
