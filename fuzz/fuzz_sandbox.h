// A directory for one fuzz target's files, and the check that nothing was
// written outside it: the sandbox lies three levels below a root of its
// own, so a path that climbs out of it lands somewhere under the root,
// where the check finds it.
#pragma once

#include <filesystem>
#include <string>

class CFuzzSandbox {
 public:
  CFuzzSandbox();
  ~CFuzzSandbox();
  CFuzzSandbox(const CFuzzSandbox&) = delete;
  CFuzzSandbox& operator=(const CFuzzSandbox&) = delete;

  // Empties the sandbox and makes it the current directory.
  void Reset();
  // Goes back to the directory the program started in (libFuzzer names
  // its corpus directories relative to it).
  void Leave() const;
  // Aborts when anything but the sandbox and its parents lies below the
  // root, or when a file below the sandbox grew past nMaxBytes.
  void CheckNothingOutside(uintmax_t nMaxBytes) const;

  const std::filesystem::path& Dir() const { return m_dir; }
  // A path below the sandbox as the program sees it (code page 936 is
  // ASCII here, backslashes).
  std::string ProgramPath(const std::string& strRel) const;

 private:
  std::filesystem::path m_start;
  std::filesystem::path m_root;
  std::filesystem::path m_dir;
};

void WriteBytes(const std::filesystem::path& path, const std::string& strBytes);
std::string ReadBytes(const std::filesystem::path& path);

// Ends the run with a message: the property a target checks was broken.
[[noreturn]] void FuzzFail(const char* pszWhat);
