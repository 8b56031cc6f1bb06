#include "fuzz/fuzz_sandbox.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

// A root no other sandbox uses: its name is claimed by creating it, so
// sandboxes side by side (in one process, in parallel runs) never share one.
fs::path NewRoot() {
  std::random_device device;
  std::mt19937 random(device());
  for (int nTry = 0; nTry < 100; ++nTry) {
    const fs::path root = fs::temp_directory_path() / ("patchloom-fuzz-" + std::to_string(random()));
    if (fs::create_directory(root)) return root;
  }
  throw std::runtime_error("cannot create a fuzz sandbox");
}

}  // namespace

CFuzzSandbox::CFuzzSandbox() : m_start(fs::current_path()), m_root(NewRoot()), m_dir(m_root / "a" / "b" / "sandbox") {
  fs::create_directories(m_dir);
}

CFuzzSandbox::~CFuzzSandbox() {
  // Windows removes no directory that is some process's current one.
  std::error_code error;
  fs::current_path(m_start, error);
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
