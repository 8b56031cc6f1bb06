// Temporary directories and small file helpers for tests.
#pragma once

#include <filesystem>
#include <string>

// A fresh directory below the system's temporary directory, removed with
// everything in it when the object goes.
class CTempDir {
 public:
  CTempDir();
  ~CTempDir();
  CTempDir(const CTempDir&) = delete;
  CTempDir& operator=(const CTempDir&) = delete;

  const std::filesystem::path& Path() const { return m_path; }
  // The directory, or a UTF-8 relative path below it, as the program sees
  // it: code page 936 with backslashes.
  std::string ProgramPath(const std::string& strRelUtf8 = std::string()) const;

 private:
  std::filesystem::path m_path;
};

// A file-system path as the program sees it (code page 936, backslashes).
std::string ToProgramPath(const std::filesystem::path& path);

// A UTF-8 string as a path (std::filesystem takes char strings in the
// native narrow encoding, which is not UTF-8 everywhere).
std::filesystem::path Utf8Path(const std::string& strUtf8);

// A UTF-8 string in code page 936, the program's own encoding.
std::string Gbk(const std::string& strUtf8);

// A UTF-8 text as the command-line tools print it: in the locale's
// character set (UTF-8 here) on POSIX, in the console's code page 936 on
// Windows.
std::string Shown(const std::string& strUtf8);

void WriteFileBytes(const std::filesystem::path& path, const std::string& strBytes);
std::string ReadFileBytes(const std::filesystem::path& path);

// nSize bytes of a seeded pseudo-random sequence: incompressible test data.
std::string RandomBytes(size_t nSize, unsigned nSeed);

// Restores the process's current directory when it goes.
class CCurrentDirGuard {
 public:
  CCurrentDirGuard() : m_saved(std::filesystem::current_path()) {}
  ~CCurrentDirGuard() { std::filesystem::current_path(m_saved); }
  CCurrentDirGuard(const CCurrentDirGuard&) = delete;
  CCurrentDirGuard& operator=(const CCurrentDirGuard&) = delete;

 private:
  std::filesystem::path m_saved;
};
