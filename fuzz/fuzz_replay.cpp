// Runs one fuzz target without libFuzzer: its LLVMFuzzerTestOneInput is
// called on each input in turn, so every build that runs the tests (gcc,
// the sanitizers, Windows) checks the target's property on its seeds and
// kept cases. A broken property ends the process (FuzzFail aborts, a
// sanitizer stops it); the last input named on the output broke it.
//   <target>_replay            the seed corpus and the kept cases
//   <target>_replay PATH...    the given files, and the files in the given
//                              directories (a crash artifact, a corpus)
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "fuzz/fuzz_inputs.h"
#include "fuzz/fuzz_sandbox.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pbyData, size_t nSize);

namespace fs = std::filesystem;

namespace {

// The target this program was built with.
constexpr char kTarget[] = PATCHLOOM_FUZZ_TARGET;

void Replay(const CFuzzInput& input) {
  std::cout << input.strName << " (" << input.strBytes.size() << " bytes)" << std::endl;
  // A heap block of exactly the input's size, as libFuzzer passes it, so
  // AddressSanitizer reports a read past its end.
  const size_t nSize = input.strBytes.size();
  std::unique_ptr<uint8_t[]> pbyData(new uint8_t[nSize]);
  if (nSize > 0) std::memcpy(pbyData.get(), input.strBytes.data(), nSize);
  LLVMFuzzerTestOneInput(pbyData.get(), nSize);
}

std::vector<CFuzzInput> Corpus() {
  std::vector<CFuzzInput> vecInputs = FuzzCorpus(kTarget);
  // An empty corpus would pass without checking anything.
  if (vecInputs.empty()) throw std::runtime_error("no corpus for this target");
  return vecInputs;
}

// The file, or every file directly in the directory in name order.
void AddFromPath(const fs::path& path, std::vector<CFuzzInput>& vecInputs) {
  std::vector<fs::path> vecFiles;
  if (fs::is_directory(path)) {
    for (const auto& item : fs::directory_iterator(path)) {
      if (item.is_regular_file()) vecFiles.push_back(item.path());
    }
    std::sort(vecFiles.begin(), vecFiles.end());
  } else if (fs::is_regular_file(path)) {
    vecFiles.push_back(path);
  } else {
    throw std::runtime_error("no such file or directory: " + path.string());
  }
  for (const fs::path& file : vecFiles) vecInputs.push_back({file.string(), ReadBytes(file)});
}

}  // namespace

int main(int argc, char* argv[]) {
  try {
    std::vector<CFuzzInput> vecInputs;
    if (argc == 1) {
      vecInputs = Corpus();
    } else {
      for (int i = 1; i < argc; ++i) AddFromPath(fs::absolute(argv[i]), vecInputs);
    }
    for (const CFuzzInput& input : vecInputs) Replay(input);
    std::cout << kTarget << ": " << vecInputs.size() << " inputs replayed, no property broken" << std::endl;
    return 0;
  } catch (const std::exception& error) {
    std::cerr << kTarget << ": " << error.what() << std::endl;
    return 1;
  }
}
