// The program's console on POSIX: GBK text shown in the terminal's character
// set, and a key wait in non-canonical mode.
#include <pthread.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <string>

#include "platform/console.h"
#include "platform/posix/locale_charset.h"

namespace {

// Holds SIGPIPE back while it lives and swallows one that a write to a
// closed pipe raised, so such a write just fails (EPIPE), as on Windows: a
// reader that went away must not kill an update half way.
class CSigPipeHold {
 public:
  CSigPipeHold() {
    sigemptyset(&m_pipeSet);
    sigaddset(&m_pipeSet, SIGPIPE);
    sigset_t pending;
    m_bWasPending = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &m_pipeSet, &m_savedMask);
  }
  ~CSigPipeHold() {
    if (m_bRaised && !m_bWasPending) {
      const struct timespec noWait = {0, 0};
      while (sigtimedwait(&m_pipeSet, nullptr, &noWait) < 0 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &m_savedMask, nullptr);
  }
  CSigPipeHold(const CSigPipeHold&) = delete;
  CSigPipeHold& operator=(const CSigPipeHold&) = delete;

  void NoteBrokenPipe() { m_bRaised = true; }

 private:
  sigset_t m_pipeSet;
  sigset_t m_savedMask;
  bool m_bWasPending = false;
  bool m_bRaised = false;
};

void WriteAll(int nFd, const char* pData, size_t nLength) {
  CSigPipeHold hold;
  while (nLength > 0) {
    ssize_t nWritten = write(nFd, pData, nLength);
    if (nWritten < 0 && errno == EINTR) continue;
    if (nWritten < 0 && errno == EPIPE) hold.NoteBrokenPipe();
    if (nWritten <= 0) return;
    pData += nWritten;
    nLength -= static_cast<size_t>(nWritten);
  }
}

// Puts the terminal into non-canonical mode without echo and without signal
// keys (Ctrl-C is a key like any other, as at a console's key prompt), and
// restores it on every path.
class CRawTerminal {
 public:
  explicit CRawTerminal(int nFd) : m_nFd(nFd) {
    if (tcgetattr(nFd, &m_saved) != 0) return;
    struct termios raw = m_saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    m_bActive = tcsetattr(nFd, TCSANOW, &raw) == 0;
  }
  ~CRawTerminal() {
    if (m_bActive) tcsetattr(m_nFd, TCSANOW, &m_saved);
  }
  CRawTerminal(const CRawTerminal&) = delete;
  CRawTerminal& operator=(const CRawTerminal&) = delete;

  bool IsActive() const { return m_bActive; }

 private:
  int m_nFd;
  struct termios m_saved {};
  bool m_bActive = false;
};

}  // namespace

void ConsoleWrite(const char* pszText, size_t nLength) {
  if (pszText == nullptr || nLength == 0) return;
  if (!isatty(STDOUT_FILENO)) {
    WriteAll(STDOUT_FILENO, pszText, nLength);
    return;
  }
  std::string strShown = ConvertCharset(std::string(pszText, nLength), LocaleCharset().c_str(), "CP936");
  WriteAll(STDOUT_FILENO, strShown.data(), strShown.size());
}

void ConsoleWaitKey() {
  if (!isatty(STDIN_FILENO)) return;
  CRawTerminal terminal(STDIN_FILENO);
  if (!terminal.IsActive()) return;
  char chKey = 0;
  while (read(STDIN_FILENO, &chKey, 1) < 0 && errno == EINTR) {
  }
  // A key may send several bytes (arrows, function keys, a multibyte
  // character): drop the rest so it does not reach the shell afterwards.
  tcflush(STDIN_FILENO, TCIFLUSH);
}
