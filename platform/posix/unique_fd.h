// RAII owner of a POSIX file descriptor.
#pragma once

#include <unistd.h>

class CUniqueFd {
 public:
  CUniqueFd() = default;
  explicit CUniqueFd(int nFd) : m_nFd(nFd) {}
  ~CUniqueFd() { Reset(); }
  CUniqueFd(CUniqueFd&& other) noexcept : m_nFd(other.Release()) {}
  CUniqueFd& operator=(CUniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  CUniqueFd(const CUniqueFd&) = delete;
  CUniqueFd& operator=(const CUniqueFd&) = delete;

  int Get() const { return m_nFd; }
  bool IsValid() const { return m_nFd >= 0; }
  int Release() {
    int nFd = m_nFd;
    m_nFd = -1;
    return nFd;
  }
  void Reset(int nFd = -1) {
    if (m_nFd >= 0) close(m_nFd);
    m_nFd = nFd;
  }

 private:
  int m_nFd = -1;
};
