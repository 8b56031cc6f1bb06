// RAII wrapper around a DIR* stream.
#pragma once

#include <dirent.h>

#include <string>

class CDirStream {
 public:
  explicit CDirStream(const std::string& strPath) : m_pDir(opendir(strPath.c_str())) {}
  ~CDirStream() {
    if (m_pDir != nullptr) closedir(m_pDir);
  }
  CDirStream(const CDirStream&) = delete;
  CDirStream& operator=(const CDirStream&) = delete;

  bool IsOpen() const { return m_pDir != nullptr; }
  // The next entry, or null at the end (or when the directory did not open).
  const dirent* Next() { return m_pDir != nullptr ? readdir(m_pDir) : nullptr; }

 private:
  DIR* m_pDir;
};
