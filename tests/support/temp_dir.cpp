#include "tests/support/temp_dir.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <system_error>

#include "platform/cp936.h"

namespace fs = std::filesystem;

CTempDir::CTempDir() {
  std::random_device device;
  std::mt19937_64 random(device());
  for (int nTry = 0; nTry < 100; ++nTry) {
    fs::path candidate = fs::temp_directory_path() / ("patchloom-test-" + std::to_string(random() % 1000000000));
    std::error_code ec;
    if (fs::create_directory(candidate, ec)) {
      m_path = fs::canonical(candidate);
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary directory");
}

CTempDir::~CTempDir() {
  // Windows deletes no read-only file: tests that made one leave it so.
  std::error_code ec;
  for (fs::recursive_directory_iterator it(m_path, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code ecIgnored;
    fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ecIgnored);
  }
  fs::remove_all(m_path, ec);
}

std::string CTempDir::ProgramPath(const std::string& strRelUtf8) const {
  return ToProgramPath(strRelUtf8.empty() ? m_path : m_path / Utf8Path(strRelUtf8));
}

fs::path Utf8Path(const std::string& strUtf8) {
  return fs::u8path(strUtf8);
}

std::string Gbk(const std::string& strUtf8) {
  std::string strGbk;
  if (!Utf8ToCp936(strUtf8, strGbk)) throw std::runtime_error("text is not valid UTF-8");
  return strGbk;
}

std::string Shown(const std::string& strUtf8) {
#ifdef _WIN32
  return Gbk(strUtf8);
#else
  return strUtf8;
#endif
}

std::string ToProgramPath(const fs::path& path) {
  std::string strGbk = Gbk(path.u8string());
  std::replace(strGbk.begin(), strGbk.end(), '/', '\\');
  return strGbk;
}

void WriteFileBytes(const fs::path& path, const std::string& strBytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(strBytes.data(), static_cast<std::streamsize>(strBytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.u8string());
}

std::string ReadFileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.u8string());
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string RandomBytes(size_t nSize, unsigned nSeed) {
  std::mt19937 random(nSeed);
  std::string str(nSize, '\0');
  for (char& ch : str) ch = static_cast<char>(random());
  return str;
}
