// Progress lines for long work, shown on standard error only when it is a
// terminal (ShowProgress decides), so pipes and logs get nothing extra.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>

namespace paktool {

// "VERB n/total NAME" for work done step by step, redrawn at most ten
// times a second; cleared when it goes.
class CStepProgress {
 public:
  explicit CStepProgress(std::string strVerb) : m_strVerb(std::move(strVerb)) {}
  ~CStepProgress();
  CStepProgress(const CStepProgress&) = delete;
  CStepProgress& operator=(const CStepProgress&) = delete;

  // strName (code page 936) may be empty.
  void Step(size_t nDone, size_t nTotal, const std::string& strName = std::string());

 private:
  std::string m_strVerb;
  std::chrono::steady_clock::time_point m_last;
  bool m_bShown = false;
};

// "TEXT 12 s" with a turning bar, redrawn by a thread of its own, for one
// library call that reports nothing while it runs. The thread starts only
// when there is a terminal to draw on, and is stopped when the object goes.
class CSpinner {
 public:
  explicit CSpinner(std::string strText);
  ~CSpinner();
  CSpinner(const CSpinner&) = delete;
  CSpinner& operator=(const CSpinner&) = delete;

 private:
  void Run();

  std::string m_strText;
  std::mutex m_mutex;
  std::condition_variable m_cvStop;
  bool m_bStop = false;
  std::thread m_thread;
};

// A name cut to its last nMax bytes at a character boundary, "..." in
// front, so a progress line fits the terminal.
std::string ShortName(const std::string& strName, size_t nMax);

}  // namespace paktool
