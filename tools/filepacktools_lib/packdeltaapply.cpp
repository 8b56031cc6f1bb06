// Rebuilding the full update from a delta (packdelta.h) and the client it
// was made for: each whole entry decoded, each patch applied to the
// client's entry of its name, every result checked against its signed MD5,
// on every core, written as the plain update 'paktool diff' writes.
#include <atomic>
#include <cassert>
#include <cstring>
#include <new>

#include "platform/file_io.h"
#include "platform/paths.h"
#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/packbuilder.h"
#include "tools/filepacktools_lib/packcodec.h"
#include "tools/filepacktools_lib/packdelta.h"
#include "tools/filepacktools_lib/zstdpatch.h"

namespace {

// A buffer for dwSize bytes (and the decoder's slack behind them).
bool Allocate(uint32_t dwSize, std::unique_ptr<unsigned char[]>& pbyOut) {
  pbyOut.reset(new (std::nothrow) unsigned char[uint64_t{dwSize} + kLzma86DecodeSlack]);
  if (pbyOut) return true;
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return false;
}

// The plain bytes of one record. Sets eFault to what went wrong.
bool MakeEntry(const CDeltaRecord& record, const unsigned char* pbyPayload, bool bCompressed, const CPackFile& client,
               std::unique_ptr<unsigned char[]>& pbyPlain, DeltaFault& eFault) {
  if (!Allocate(record.dwSize, pbyPlain)) {
    eFault = DeltaFault::kSystem;
    return false;
  }
  if (record.dwKind == kDeltaKindPatch) {
    CEntryBytes base;
    const std::string strName = FieldString(record.szName, kPackNameSize);
    if (!client.ReadReleaseBytes(strName, std::string(), base) || base.dwSize != record.dwBaseSize ||
        !HasTag(base.pbyData, base.dwSize, record.szBaseTag)) {
      eFault = DeltaFault::kBase;
      SetLastError(ERROR_INVALID_DATA);
      return false;
    }
    if (!ApplyPatch(base.pbyData, base.dwSize, pbyPayload, record.dwLength, pbyPlain.get(), record.dwSize)) {
      eFault = GetLastError() == ERROR_INVALID_DATA ? DeltaFault::kDamaged : DeltaFault::kSystem;
      return false;
    }
    if (!HasTag(pbyPlain.get(), record.dwSize, record.szTag)) {
      eFault = DeltaFault::kDamaged;
      SetLastError(ERROR_INVALID_DATA);
      return false;
    }
  } else if (!DecodeWholeEntry(record, pbyPayload, bCompressed, pbyPlain.get())) {
    eFault = DeltaFault::kDamaged;
    return false;
  }
  return true;
}

}  // namespace

bool CPackFile::RebuildDeltaUpdate(const unsigned char* pbyDelta, uint64_t qwDeltaSize, const CPackFile& client,
                                   const char* chDesFilePath, const char* pszPackName, CDeltaOutcome& outcome) {
  outcome = CDeltaOutcome();
  CDeltaIndex index;
  outcome.strWhy = ReadDeltaIndex(pbyDelta, qwDeltaSize, qwDeltaSize, index);
  const std::string strRoot = FieldString(index.header.szRootName, kPackRootNameSize);
  if (outcome.strWhy.empty() && strRoot != client.ReleaseRoot()) outcome.strWhy = "made for another root name";
  if (!outcome.strWhy.empty()) {
    outcome.eFault = DeltaFault::kDamaged;
    SetLastError(ERROR_INVALID_DATA);
    return false;
  }
  std::vector<CMadeEntry> vecMade;
  for (const CDeltaRecord& record : index.vecRecords) {
    vecMade.push_back({FieldString(record.szName, kPackNameSize), record.dwSize});
  }
  // Each worker writes the fault of its own entry only.
  std::unique_ptr<std::atomic<int>[]> pnFaults(new std::atomic<int>[vecMade.size() + 1]);
  for (size_t i = 0; i <= vecMade.size(); ++i) pnFaults[i] = static_cast<int>(DeltaFault::kNone);
  const bool bCompressed = index.header.byCompressed != 0;
  const EntryMaker fnMake = [&](size_t nIndex, std::unique_ptr<unsigned char[]>& pbyPlain, uint32_t& dwSize) {
    const CDeltaRecord& record = index.vecRecords[nIndex];
    DeltaFault eFault = DeltaFault::kNone;
    dwSize = record.dwSize;
    if (MakeEntry(record, pbyDelta + record.dwOffset, bCompressed, client, pbyPlain, eFault)) return true;
    const DWORD dwError = GetLastError();
    pnFaults[nIndex] = static_cast<int>(eFault);
    SetLastError(dwError);
    return false;
  };
  CBuildSettings settings = BuildSettings(false);
  settings.strPackName = strRoot;
  settings.bTags = true;
  settings.nWorkers = m_nBuildWorkers;
  CPackBuilder builder({m_header, m_mapEntry, m_mapDir, m_vecFreeBlock, m_hBuildFile, m_nAddedCount}, settings);
  if (BuildInto(builder, CBuildSource(vecMade, fnMake), strRoot, chDesFilePath, nullptr, pszPackName, false)) {
    return true;
  }
  const DWORD dwError = GetLastError();
  outcome.eFault = DeltaFault::kSystem;
  for (size_t i = 0; i < vecMade.size(); ++i) {
    if (pnFaults[i] != static_cast<int>(DeltaFault::kNone)) {
      outcome.eFault = static_cast<DeltaFault>(pnFaults[i].load());
      outcome.strName = vecMade[i].strName;
      break;
    }
  }
  SetLastError(dwError);
  return false;
}

namespace {

constexpr char kRebuiltSuffix[] = ".rebuilt";

std::string RebuiltPath(const std::string& strClient) { return strClient + kRebuiltSuffix + ".pak"; }

}  // namespace

bool CRealizePack::HeldUpdateIs(const CDeltaIndex& index) {
  const PackEntryMap& mapEntry = m_pSrcPack->m_mapEntry;
  if (mapEntry.size() != index.vecRecords.size()) return false;
  const CEntryReader reader = m_pSrcPack->Reader();
  auto itEntry = mapEntry.begin();
  for (const CDeltaRecord& record : index.vecRecords) {
    const PackEntry& entry = *itEntry->second;
    CEntryBytes bytes;
    if (itEntry->first != FieldString(record.szName, kPackNameSize) || entry.dwOrigSize != record.dwSize ||
        std::memcmp(entry.szTag, record.szTag, kPackTagSize) != 0 || !reader.ReadPlainBytes(entry, bytes) ||
        !HasTag(bytes.pbyData, bytes.dwSize, record.szTag)) {
      return false;
    }
    ++itEntry;
  }
  return true;
}

int CRealizePack::MergeDeltaUpdate(const unsigned char* pbyDelta, uint64_t qwDeltaSize, const char* pszTarPack,
                                   const CUpdateRemovals& removals, CDeltaOutcome& outcome) {
  assert(NULL != pszTarPack);
  m_strRefusal.clear();
  m_setMerged.clear();
  outcome = CDeltaOutcome();
  if (!pszTarPack || !pszTarPack[0]) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (!RebuildAndHold(pbyDelta, qwDeltaSize, pszTarPack, outcome)) return 0;
  return MergeHeldUpdate(pszTarPack, removals);
}

bool CRealizePack::RebuildHeldDelta(const char* pszTarPack, CDeltaOutcome& outcome) {
  assert(NULL != pszTarPack);
  m_strRefusal.clear();
  outcome = CDeltaOutcome();
  outcome.eFault = DeltaFault::kSystem;
  // The copy is taken out of the held state: the rebuilt update is held
  // next, and the delta's bytes must stay mapped until the rebuild is done.
  CScopedHandle hDelta = std::move(m_hHeldCopy);
  ReleaseHeldUpdate();
  uint64_t qwSize = 0;
  if (!pszTarPack || !pszTarPack[0] || !hDelta) {
    SetLastError(!hDelta ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
    return false;
  }
  if (!FileSize(hDelta.Get(), qwSize)) return false;
  CScopedHandle hMapping(CreateFileMappingA(hDelta.Get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  SYSTEM_INFO sysInfo;
  GetSystemInfo(&sysInfo);
  CMappedView view;
  const unsigned char* pbyDelta =
      hMapping ? view.Map(hMapping.Get(), 0, qwSize, sysInfo.dwAllocationGranularity) : nullptr;
  if (pbyDelta == nullptr) return false;
  outcome = CDeltaOutcome();
  return RebuildAndHold(pbyDelta, qwSize, pszTarPack, outcome);
}

// The rebuilt update is copied privately and checked there, and only the
// copy is merged: what is checked is what is merged, whatever happens to
// the file, which is deleted at once.
bool CRealizePack::RebuildAndHold(const unsigned char* pbyDelta, uint64_t qwDeltaSize, const char* pszTarPack,
                                  CDeltaOutcome& outcome) {
  const std::string strRebuilt = RebuiltPath(pszTarPack);
  DeleteFileA(strRebuilt.c_str());
  const size_t nSeparator = LastSeparator(pszTarPack);
  const std::string strDir = nSeparator == std::string::npos ? CurrentDirectory() : std::string(pszTarPack, nSeparator);
  const std::string strName =
      std::string(pszTarPack).substr(nSeparator == std::string::npos ? 0 : nSeparator + 1) + kRebuiltSuffix;
  bool bRebuilt = false;
  {
    CPackFile client;
    CPackFile writer;
    bRebuilt = client.OpenForReading(pszTarPack) &&
               writer.RebuildDeltaUpdate(pbyDelta, qwDeltaSize, client, strDir.c_str(), strName.c_str(), outcome);
  }
  if (!bRebuilt) {
    if (outcome.eFault == DeltaFault::kNone) m_strRefusal = "the client pack does not open";
    return false;
  }
  CDeltaIndex index;
  ReadDeltaIndex(pbyDelta, qwDeltaSize, qwDeltaSize, index);
  uint64_t qwSize = 0;
  auto noSink = [](const unsigned char*, size_t) { return true; };
  bool bHeld = HoldUpdate(strRebuilt.c_str()) && GetHeldUpdateSize(qwSize) &&
               CopyHeldUpdate(qwSize, strDir.c_str(), noSink) && OpenHeldCopy();
  if (!bHeld) {
    outcome.eFault = DeltaFault::kSystem;
  } else if (!HeldUpdateIs(index)) {
    bHeld = false;
    outcome.eFault = DeltaFault::kDamaged;
    outcome.strWhy = "the rebuilt update changed before it was merged";
    SetLastError(ERROR_INVALID_DATA);
  }
  CKeepLastError keep;
  m_hHeldFile.Reset();  // the copy is all that is merged
  DeleteFileA(strRebuilt.c_str());
  if (!bHeld) {
    ReleaseHeldUpdate();
    m_pSrcPack->Close();
  }
  m_bHeldCopyOpen = bHeld;
  return bHeld;
}
