#include "fuzz/fuzz_sandbox.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

CFuzzSandbox::CFuzzSandbox() : m_start(fs::current_path()) {
  m_root = fs::temp_directory_path() / ("patchloom-fuzz-" + std::to_string(getpid()));
  m_dir = m_root / "a" / "b" / "sandbox";
  fs::create_directories(m_dir);
}

CFuzzSandbox::~CFuzzSandbox() {
  std::error_code error;
  fs::current_path(fs::temp_directory_path(), error);
  fs::remove_all(m_root, error);
}

void CFuzzSandbox::Reset() {
  fs::current_path(m_dir);
  for (const auto& item : fs::directory_iterator(m_dir)) fs::remove_all(item.path());
}

void CFuzzSandbox::Leave() const { fs::current_path(m_start); }

void CFuzzSandbox::CheckNothingOutside(uintmax_t nMaxBytes) const {
  for (auto it = fs::recursive_directory_iterator(m_root); it != fs::recursive_directory_iterator(); ++it) {
    const fs::path rel = fs::relative(it->path(), m_root);
    const std::string strRel = rel.generic_string();
    if (strRel == "a" || strRel == "a/b" || strRel == "a/b/sandbox") continue;
    if (strRel.compare(0, 12, "a/b/sandbox/") != 0) {
      std::fprintf(stderr, "written outside the sandbox: %s\n", strRel.c_str());
      FuzzFail("a write outside the sandbox");
    }
    if (it->is_regular_file() && it->file_size() > nMaxBytes) FuzzFail("a file larger than the input allows");
  }
}

std::string CFuzzSandbox::ProgramPath(const std::string& strRel) const {
  std::string strPath = (m_dir / strRel).string();
  std::replace(strPath.begin(), strPath.end(), '/', '\\');
  return strPath;
}

void WriteBytes(const fs::path& path, const std::string& strBytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(strBytes.data(), static_cast<std::streamsize>(strBytes.size()));
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void FuzzFail(const char* pszWhat) {
  std::fprintf(stderr, "property broken: %s\n", pszWhat);
  std::abort();
}
