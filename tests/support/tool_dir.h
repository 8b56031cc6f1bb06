// A temporary tool directory for running the updater as its users do: a copy
// of the built Patchloom (which looks for clientres.pak beside itself) and
// of the client stand-in "Veshmarkland.exe". The test target defines
// PATCHLOOM_EXE and STANDIN_EXE, the paths of the built programs.
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "tests/support/temp_dir.h"

class CToolDir {
 public:
  CToolDir() {
    std::filesystem::copy_file(Utf8Path(PATCHLOOM_EXE), Program());
    std::filesystem::copy_file(Utf8Path(STANDIN_EXE), Path() / kClientName);
  }

  static constexpr const char* kClientName = "Veshmarkland.exe";
  static constexpr const char* kStartMarker = "veshmarkland.started";

  const std::filesystem::path& Path() const { return m_dir.Path(); }
  std::filesystem::path Program() const { return Path() / Utf8Path(PATCHLOOM_EXE).filename(); }
  std::string ProgramPath(const std::string& strRelUtf8 = std::string()) const { return m_dir.ProgramPath(strRelUtf8); }

  // Lines the stand-in wrote into dir's start marker: one per start.
  static int StartCount(const std::filesystem::path& dir) {
    std::ifstream in(dir / kStartMarker);
    int nLines = 0;
    for (std::string strLine; std::getline(in, strLine);) ++nLines;
    return nLines;
  }

  // Waits until dir's start marker holds nStarts lines; false after nTimeoutMs.
  static bool WaitForStarts(const std::filesystem::path& dir, int nStarts, int nTimeoutMs = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
    while (StartCount(dir) < nStarts) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }

 private:
  CTempDir m_dir;
};
