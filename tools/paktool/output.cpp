#include "tools/paktool/output.h"

#include <cstdio>
#include <mutex>

#include "platform/terminal.h"

namespace paktool {

namespace {

// The progress line is drawn by the main thread or by a spinner's thread;
// this keeps one line from being written into the middle of another.
std::mutex g_mutexError;
size_t g_nProgressWidth = 0;  // characters of the line showing, 0 when none

void ClearProgressLocked() {
  if (g_nProgressWidth == 0) return;
  std::fprintf(stderr, "\r%*s\r", static_cast<int>(g_nProgressWidth), "");
  g_nProgressWidth = 0;
}

}  // namespace

void PrintLine(const std::string& strText) {
  const std::string strShown = ToTerminalText(strText) + '\n';
  std::fwrite(strShown.data(), 1, strShown.size(), stdout);
}

void PrintErrorLine(const std::string& strText) {
  std::fflush(stdout);  // results first, when both go to one place
  std::lock_guard<std::mutex> lock(g_mutexError);
  ClearProgressLocked();
  const std::string strShown = ToTerminalText(strText) + '\n';
  std::fwrite(strShown.data(), 1, strShown.size(), stderr);
  std::fflush(stderr);
}

void ShowProgress(const std::string& strText) {
  static const bool s_bTerminal = IsStderrTerminal();
  if (!s_bTerminal) return;
  std::lock_guard<std::mutex> lock(g_mutexError);
  const std::string strShown = ToTerminalText(strText);
  // Padding covers what is left of a longer line before it.
  const int nPad = g_nProgressWidth > strShown.size() ? static_cast<int>(g_nProgressWidth - strShown.size()) : 0;
  std::fprintf(stderr, "\r%s%*s", strShown.c_str(), nPad, "");
  if (nPad > 0) std::fprintf(stderr, "\r%s", strShown.c_str());
  std::fflush(stderr);
  g_nProgressWidth = strShown.size();
}

void ClearProgress() {
  std::lock_guard<std::mutex> lock(g_mutexError);
  ClearProgressLocked();
  std::fflush(stderr);
}

}  // namespace paktool
