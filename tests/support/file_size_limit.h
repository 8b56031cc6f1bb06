// The process's file-size limit standing in for a full disk: a write that
// would pass it fails (EFBIG) as a write to a full disk fails. POSIX only.
#pragma once

#include <signal.h>
#include <sys/resource.h>

// Limits the size of every file this process writes until it goes.
class CFileSizeLimit {
 public:
  explicit CFileSizeLimit(rlim_t nBytes) {
    signal(SIGXFSZ, SIG_IGN);  // fail the write instead of killing the process
    getrlimit(RLIMIT_FSIZE, &m_saved);
    rlimit limit = m_saved;
    limit.rlim_cur = nBytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~CFileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_saved); }
  CFileSizeLimit(const CFileSizeLimit&) = delete;
  CFileSizeLimit& operator=(const CFileSizeLimit&) = delete;

 private:
  rlimit m_saved;
};
