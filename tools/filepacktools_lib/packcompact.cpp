// Compacting a pack: the live entries' bytes copied into a new file without
// the holes between them, the index regions written behind them, and the
// new file moved over the pack (packcompactor.h has the layout and the
// copy). The pack is never written: until the move it stays as it was.
#include <cassert>

#include "platform/durable_replace.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/packcompactor.h"
#include "tools/filepacktools_lib/packverify.h"

namespace {

bool Refuse(std::string& strRefusal, const std::string& strReason, DWORD dwError) {
  strRefusal = strReason;
  SetLastError(dwError);
  return false;
}

// The pack passes every check of the format; the reason is its first
// problem, and how many more there are.
bool CheckSound(const std::string& strPack, std::string& strRefusal) {
  std::vector<std::string> vecProblems;
  if (!VerifyPack(strPack.c_str(), vecProblems)) return false;
  if (vecProblems.empty()) return true;
  std::string strReason = "the pack is damaged: " + vecProblems.front();
  if (vecProblems.size() > 1) strReason += " (and " + std::to_string(vecProblems.size() - 1) + " more problems)";
  return Refuse(strRefusal, strReason, ERROR_INVALID_DATA);
}

// The compacted pack is written beside the pack, on the same volume. When
// the volume cannot tell its free space, the writes will tell instead.
bool CheckFreeSpace(const std::string& strPack, uint64_t qwNeeded, std::string& strRefusal) {
  const size_t nSep = LastSeparator(strPack);
  const std::string strDir = nSep == std::string::npos ? std::string() : strPack.substr(0, nSep + 1);
  ULARGE_INTEGER free;
  if (!GetDiskFreeSpaceExA(strDir.empty() ? nullptr : strDir.c_str(), &free, nullptr, nullptr)) return true;
  if (free.QuadPart >= qwNeeded) return true;
  return Refuse(strRefusal,
                "not enough free disk space: the compacted pack needs " + std::to_string(qwNeeded) +
                    " bytes beside the pack, and the disk has " + std::to_string(free.QuadPart) + " bytes free",
                ERROR_DISK_FULL);
}

}  // namespace

uint64_t CPackFile::GetHoleBytes() const {
  if (!m_hFileMapping) return 0;
  return HoleBytes(m_mapEntry, m_header.dwIndexOffset);
}

double CPackFile::GetHoleShare() const {
  if (!m_hFileMapping) return 0;
  const uint64_t qwSize = LayoutIndex(m_header.dwIndexOffset, Regions()).End();
  return static_cast<double>(GetHoleBytes()) / static_cast<double>(qwSize);
}

const std::string& CRealizePack::GetCompactRefusal() const { return m_strCompactRefusal; }

bool CRealizePack::CompactPack(const char* pszPack) {
  assert(NULL != pszPack);
  assert('\0' != pszPack[0]);
  m_strCompactRefusal.clear();
  if (!pszPack || !pszPack[0]) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  const std::string strPack = pszPack;
  // Opening restores the journal of an interrupted merge, then keeps every
  // writer out until the pack is closed just before the move.
  CPackFile pack;
  if (!pack.OpenPack(strPack, CPackFile::OpenMode::kReadDenyWriters)) return false;
  RemoveCompactLeftover(strPack);
  if (!CheckSound(strPack, m_strCompactRefusal)) return false;
  // Open drops nothing of a sound pack; should it, the rewrite would lose it.
  uint64_t qwFileSize = 0;
  if (!FileSize(pack.m_hPackFile.Get(), qwFileSize)) return false;
  if (LayoutIndex(pack.m_header.dwIndexOffset, pack.Regions()).End() != qwFileSize) {
    return Refuse(m_strCompactRefusal, "the pack's index does not load completely", ERROR_INVALID_DATA);
  }

  const CCompactLayout layout = LayoutCompaction(pack.m_mapEntry);
  PackHeader header = pack.m_header;
  header.dwIndexOffset = layout.dwIndexOffset;
  const PackEntryList vecNoneAdded;
  const PackFreeList vecNoFree;
  const CIndexRegions regions{pack.m_mapEntry, vecNoneAdded, pack.m_mapDir, vecNoFree};
  if (!CheckFreeSpace(strPack, LayoutIndex(header.dwIndexOffset, regions).End(), m_strCompactRefusal)) return false;

  const std::string strTemp = CompactTempPath(strPack);
  CScopedHandle hTemp = CreateReplacement(strTemp, CREATE_ALWAYS);
  if (!hTemp) return false;
  // Flushed while writers are still kept out: the pack is let go only for
  // the move (which nothing may hold it open for), too short a time for a
  // merge to come and go and be lost under the compacted pack.
  const bool bWritten = CopyRuns(pack.m_hPackFile.Get(), hTemp.Get(), layout.vecRuns) &&
                        WriteIndexRegions(hTemp.Get(), header, regions) && FlushFileBuffers(hTemp.Get());
  pack.Close();
  return CompleteReplacement(bWritten, hTemp, strTemp, strPack);
}
