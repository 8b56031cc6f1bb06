#include "tools/paktool/progress.h"

#include "platform/cp936.h"
#include "platform/terminal.h"
#include "tools/paktool/output.h"

namespace paktool {

namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr auto kSpinInterval = std::chrono::milliseconds(250);
constexpr size_t kShownNameBytes = 48;

}  // namespace

std::string ShortName(const std::string& strName, size_t nMax) {
  if (strName.size() <= nMax) return strName;
  // The first character boundary from which at most nMax bytes are left.
  size_t i = 0;
  while (i < strName.size() && strName.size() - i > nMax) {
    const bool bDouble = Cp936IsLeadByte(static_cast<unsigned char>(strName[i])) && i + 1 < strName.size();
    i += bDouble ? 2 : 1;
  }
  return "..." + strName.substr(i);
}

CStepProgress::~CStepProgress() {
  if (m_bShown) ClearProgress();
}

void CStepProgress::Step(size_t nDone, size_t nTotal, const std::string& strName) {
  const auto now = std::chrono::steady_clock::now();
  if (m_bShown && nDone < nTotal && now - m_last < kRedrawInterval) return;
  m_last = now;
  m_bShown = true;
  std::string strLine = m_strVerb + ' ' + std::to_string(nDone) + '/' + std::to_string(nTotal);
  if (!strName.empty()) strLine += ' ' + ShortName(strName, kShownNameBytes);
  ShowProgress(strLine);
}

CSpinner::CSpinner(std::string strText) : m_strText(std::move(strText)) {
  if (IsStderrTerminal()) m_thread = std::thread(&CSpinner::Run, this);
}

CSpinner::~CSpinner() {
  if (!m_thread.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bStop = true;
  }
  m_cvStop.notify_one();
  m_thread.join();
  ClearProgress();
}

void CSpinner::Run() {
  static const char kBar[] = {'|', '/', '-', '\\'};
  const auto start = std::chrono::steady_clock::now();
  std::unique_lock<std::mutex> lock(m_mutex);
  for (size_t nTurn = 0; !m_bStop; ++nTurn) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
    ShowProgress(m_strText + ' ' + kBar[nTurn % 4] + ' ' + std::to_string(seconds.count()) + " s");
    m_cvStop.wait_for(lock, kSpinInterval, [this] { return m_bStop; });
  }
}

}  // namespace paktool
