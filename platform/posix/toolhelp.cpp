// CreateToolhelp32Snapshot, Process32First and Process32Next over /proc.
//
// szExeFile is the bare image file name, as Windows reports it. The kernel's
// own name for a process (comm) is cut to 15 bytes, so "Veshmarkland.exe"
// would read "Veshmarkland.ex": the full name comes from the executable's
// path or the command line, whichever agrees with comm. That also names a
// script by its file rather than by its interpreter, and a program started
// under a loader by the program's file.
#include <dirent.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "platform/api_guard.h"
#include "platform/cp936.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/handle_table.h"

namespace {

// TASK_COMM_LEN less the terminator.
const size_t kCommLength = 15;

class CSnapshotObject : public CHandleObject {
 public:
  static constexpr EHandleKind kKind = kHandleSnapshot;

  explicit CSnapshotObject(std::vector<PROCESSENTRY32> vecProcesses)
      : CHandleObject(kKind), m_vecProcesses(std::move(vecProcesses)) {}

  // Copies process nIndex (First: 0, Next: the one after the last copied).
  BOOL Copy(bool bFirst, LPPROCESSENTRY32 pEntry) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (bFirst) m_nNext = 0;
    if (m_nNext >= m_vecProcesses.size()) return Fail(FALSE, ERROR_NO_MORE_FILES);
    DWORD dwSize = pEntry->dwSize;
    *pEntry = m_vecProcesses[m_nNext++];
    pEntry->dwSize = dwSize;
    return TRUE;
  }

 private:
  std::vector<PROCESSENTRY32> m_vecProcesses;
  std::mutex m_mutex;
  size_t m_nNext = 0;
};

std::string ReadWholeFile(const std::string& strPath) {
  std::ifstream in(strPath, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ReadLink(const std::string& strPath) {
  char szTarget[4096];
  ssize_t nLength = readlink(strPath.c_str(), szTarget, sizeof(szTarget));
  return nLength > 0 ? std::string(szTarget, static_cast<size_t>(nLength)) : std::string();
}

std::string BareName(const std::string& strPath) {
  size_t nSlash = strPath.find_last_of("/\\");
  return nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
}

// What /proc/PID/stat says: the kernel's name, parent and thread count.
struct CStatLine {
  std::string strComm;
  char chState = '?';
  DWORD dwParent = 0;
  DWORD dwThreads = 0;
};

bool ReadStat(const std::string& strDir, CStatLine& stat) {
  std::string strLine = ReadWholeFile(strDir + "/stat");
  size_t nOpen = strLine.find('(');
  size_t nClose = strLine.rfind(')');
  if (nOpen == std::string::npos || nClose == std::string::npos || nClose < nOpen) return false;
  stat.strComm = strLine.substr(nOpen + 1, nClose - nOpen - 1);
  // After the name: state ppid pgrp session tty_nr tpgid flags minflt cminflt
  // majflt cmajflt utime stime cutime cstime priority nice num_threads.
  std::vector<std::string> vecFields;
  size_t nPos = nClose + 1;
  while (vecFields.size() < 18) {
    size_t nStart = strLine.find_first_not_of(' ', nPos);
    if (nStart == std::string::npos) return false;
    nPos = strLine.find(' ', nStart);
    vecFields.push_back(strLine.substr(nStart, nPos == std::string::npos ? std::string::npos : nPos - nStart));
    if (nPos == std::string::npos) break;
  }
  if (vecFields.size() < 18) return false;
  stat.chState = vecFields[0].empty() ? '?' : vecFields[0][0];
  stat.dwParent = static_cast<DWORD>(std::strtoul(vecFields[1].c_str(), nullptr, 10));
  stat.dwThreads = static_cast<DWORD>(std::strtoul(vecFields[17].c_str(), nullptr, 10));
  return true;
}

// True when strName is the name comm was cut from.
bool AgreesWithComm(const std::string& strName, const std::string& strComm) {
  if (strComm.size() < kCommLength) return strName == strComm;
  return strName.size() >= kCommLength && strName.compare(0, kCommLength, strComm) == 0;
}

std::string ImageName(const std::string& strDir, const std::string& strComm) {
  std::vector<std::string> vecCandidates;
  std::string strExe = ReadLink(strDir + "/exe");
  const std::string strDeleted = " (deleted)";
  if (strExe.size() > strDeleted.size() &&
      strExe.compare(strExe.size() - strDeleted.size(), strDeleted.size(), strDeleted) == 0)
    strExe.erase(strExe.size() - strDeleted.size());
  if (!strExe.empty()) vecCandidates.push_back(BareName(strExe));
  std::string strCmdLine = ReadWholeFile(strDir + "/cmdline");
  for (size_t nPos = 0; nPos < strCmdLine.size();) {
    size_t nEnd = strCmdLine.find('\0', nPos);
    if (nEnd == std::string::npos) nEnd = strCmdLine.size();
    vecCandidates.push_back(BareName(strCmdLine.substr(nPos, nEnd - nPos)));
    nPos = nEnd + 1;
  }
  for (const std::string& strCandidate : vecCandidates) {
    if (AgreesWithComm(strCandidate, strComm)) return strCandidate;
  }
  return strComm;  // renamed by the process itself, or a kernel thread
}

// Copies a UTF-8 name into szExeFile in code page 936, cut on a character
// boundary when it does not fit.
void StoreExeFile(const std::string& strUtf8, PROCESSENTRY32& entry) {
  std::string strName;
  Utf8ToCp936(strUtf8, strName);
  size_t nCopy = 0;
  while (nCopy < strName.size()) {
    size_t nChar = Cp936IsLeadByte(static_cast<unsigned char>(strName[nCopy])) && nCopy + 1 < strName.size() ? 2 : 1;
    if (nCopy + nChar > sizeof(entry.szExeFile) - 1) break;
    nCopy += nChar;
  }
  std::memcpy(entry.szExeFile, strName.data(), nCopy);
  entry.szExeFile[nCopy] = '\0';
}

bool IsProcessId(const char* pszName) {
  if (*pszName == '\0') return false;
  for (const char* p = pszName; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
  }
  return true;
}

// A process that has ended, or ends while it is read, is left out.
bool ReadProcess(const char* pszPid, PROCESSENTRY32& entry) {
  const std::string strDir = std::string("/proc/") + pszPid;
  CStatLine stat;
  if (!ReadStat(strDir, stat)) return false;
  // An ended process waiting to be reaped is gone for Windows' list.
  if (stat.chState == 'Z' || stat.chState == 'X') return false;
  std::memset(&entry, 0, sizeof(entry));
  entry.dwSize = sizeof(entry);
  entry.th32ProcessID = static_cast<DWORD>(std::strtoul(pszPid, nullptr, 10));
  entry.th32ParentProcessID = stat.dwParent;
  entry.cntThreads = stat.dwThreads;
  entry.pcPriClassBase = 8;  // NORMAL_PRIORITY_CLASS's base priority
  StoreExeFile(ImageName(strDir, stat.strComm), entry);
  return true;
}

class CDirCloser {
 public:
  explicit CDirCloser(DIR* pDir) : m_pDir(pDir) {}
  ~CDirCloser() {
    if (m_pDir) closedir(m_pDir);
  }
  CDirCloser(const CDirCloser&) = delete;
  CDirCloser& operator=(const CDirCloser&) = delete;
  DIR* Get() const { return m_pDir; }

 private:
  DIR* m_pDir;
};

HANDLE CreateSnapshotImpl(DWORD dwFlags) {
  // Only the process list is kept; heaps, threads and modules are not.
  if ((dwFlags & ~(TH32CS_SNAPPROCESS | TH32CS_INHERIT)) != 0 || (dwFlags & TH32CS_SNAPPROCESS) == 0)
    return Fail(INVALID_HANDLE_VALUE, ERROR_NOT_SUPPORTED);
  CDirCloser dir(opendir("/proc"));
  if (!dir.Get()) return FailErrno(INVALID_HANDLE_VALUE, errno);
  std::vector<PROCESSENTRY32> vecProcesses;
  while (struct dirent* pItem = readdir(dir.Get())) {
    PROCESSENTRY32 entry;
    if (IsProcessId(pItem->d_name) && ReadProcess(pItem->d_name, entry)) vecProcesses.push_back(entry);
  }
  return RegisterHandle(std::make_shared<CSnapshotObject>(std::move(vecProcesses)));
}

BOOL ProcessWalkImpl(HANDLE hSnapshot, LPPROCESSENTRY32 pEntry, bool bFirst) {
  auto spSnapshot = LookupHandleAs<CSnapshotObject>(hSnapshot);
  if (!spSnapshot) return FALSE;
  if (pEntry == nullptr || pEntry->dwSize < sizeof(PROCESSENTRY32)) return Fail(FALSE, ERROR_BAD_LENGTH);
  return spSnapshot->Copy(bFirst, pEntry);
}

}  // namespace

// th32ProcessID selects a process for module and heap lists only.
extern "C" HANDLE WINAPI CreateToolhelp32Snapshot(DWORD dwFlags, DWORD th32ProcessID) {
  (void)th32ProcessID;
  return GuardWin32(INVALID_HANDLE_VALUE, [&] { return CreateSnapshotImpl(dwFlags); });
}

extern "C" BOOL WINAPI Process32First(HANDLE hSnapshot, LPPROCESSENTRY32 lppe) {
  return GuardWin32(FALSE, [&] { return ProcessWalkImpl(hSnapshot, lppe, true); });
}

extern "C" BOOL WINAPI Process32Next(HANDLE hSnapshot, LPPROCESSENTRY32 lppe) {
  return GuardWin32(FALSE, [&] { return ProcessWalkImpl(hSnapshot, lppe, false); });
}
