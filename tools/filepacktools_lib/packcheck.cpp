#include "tools/filepacktools_lib/packcheck.h"

#include <algorithm>
#include <cstring>

#include "platform/cp936.h"

namespace {

std::vector<std::string> SplitAt(const std::string& str, char chSep) {
  std::vector<std::string> vecParts;
  size_t nStart = 0;
  for (size_t nSep; (nSep = str.find(chSep, nStart)) != std::string::npos; nStart = nSep + 1) {
    vecParts.push_back(str.substr(nStart, nSep - nStart));
  }
  vecParts.push_back(str.substr(nStart));
  return vecParts;
}

bool IsDeviceName(const std::string& strComponent) {
  std::string strBase = strComponent.substr(0, strComponent.find('.'));
  while (!strBase.empty() && strBase.back() == ' ') strBase.pop_back();
  if (strBase.empty()) return false;
  std::string strUpper = strBase;
  for (char& ch : strUpper) {
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
  }
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* pszDevice : kDevices) {
    if (strUpper == pszDevice) return true;
  }
  return strUpper.size() == 4 && (strUpper.compare(0, 3, "COM") == 0 || strUpper.compare(0, 3, "LPT") == 0) &&
         strUpper[3] >= '1' && strUpper[3] <= '9';
}

bool IsSafeComponent(const std::string& strComponent) {
  if (strComponent.empty() || strComponent == "." || strComponent == "..") return false;
  const char chLast = strComponent.back();
  if (chLast == '.' || chLast == ' ') return false;
  for (size_t i = 0; i < strComponent.size(); ++i) {
    const unsigned char by = static_cast<unsigned char>(strComponent[i]);
    if (Cp936IsLeadByte(by) && i + 1 < strComponent.size()) {
      ++i;  // a trail byte may look like '|' but is part of a character
      continue;
    }
    if (by < 0x20 || std::strchr("<>:\"/|?*", by)) return false;
  }
  return !IsDeviceName(strComponent);
}

struct Span {
  uint64_t qwStart;
  uint64_t qwEnd;
  std::string strWhat;  // "entry \"...\"" or "free block at N"
};

std::string EntryLabel(const std::string& strName) { return "entry \"" + strName + "\""; }

}  // namespace

bool IsSafeEntryName(const std::string& strName) {
  for (const std::string& strComponent : SplitAt(strName, '\\')) {
    if (!IsSafeComponent(strComponent)) return false;
  }
  return true;
}

bool IsInDataArea(const PackEntry& entry, uint32_t dwIndexOffset) {
  return entry.dwOffset >= kPackHeaderSize &&
         static_cast<uint64_t>(entry.dwOffset) + entry.dwStoredSize <= dwIndexOffset;
}

std::string LayoutProblem(const PackHeader& header, const PackEntryMap& mapEntry,
                          const std::vector<PackFreeBlock>& vecFreeBlock) {
  std::vector<Span> vecSpans;
  vecSpans.reserve(mapEntry.size() + vecFreeBlock.size());
  for (const auto& item : mapEntry) {
    const PackEntry& entry = *item.second;
    if (!IsInDataArea(entry, header.dwIndexOffset)) return EntryLabel(item.first) + " lies outside the data area";
    if (header.byCompressed == 0 && entry.dwOrigSize != entry.dwStoredSize) {
      return EntryLabel(item.first) + " of a plain pack has differing sizes";
    }
    if (entry.dwStoredSize == 0) continue;  // an empty entry occupies nothing and may sit anywhere
    vecSpans.push_back({entry.dwOffset, static_cast<uint64_t>(entry.dwOffset) + entry.dwStoredSize, EntryLabel(item.first)});
  }
  for (const PackFreeBlock& block : vecFreeBlock) {
    const uint64_t qwEnd = static_cast<uint64_t>(block.dwOffset) + block.dwSize;
    const std::string strBlock = "the free block at " + std::to_string(block.dwOffset);
    if (block.dwOffset < kPackHeaderSize || qwEnd > header.dwIndexOffset) return strBlock + " lies outside the data area";
    if (block.dwSize > 0) vecSpans.push_back({block.dwOffset, qwEnd, strBlock});
  }
  std::sort(vecSpans.begin(), vecSpans.end(), [](const Span& a, const Span& b) { return a.qwStart < b.qwStart; });
  for (size_t i = 1; i < vecSpans.size(); ++i) {
    if (vecSpans[i].qwStart < vecSpans[i - 1].qwEnd) return vecSpans[i - 1].strWhat + " overlaps " + vecSpans[i].strWhat;
  }
  return std::string();
}

bool IsLayoutSound(const PackHeader& header, const PackEntryMap& mapEntry,
                   const std::vector<PackFreeBlock>& vecFreeBlock) {
  return LayoutProblem(header, mapEntry, vecFreeBlock).empty();
}

std::string JoinPath(const std::string& strDir, const std::string& strName) {
  if (strDir.empty()) return strName;
  if (strDir.back() == '\\' || strDir.back() == '/') return strDir + strName;
  return strDir + '\\' + strName;
}

std::string ComparablePath(const std::string& strPath, const std::string& strCurrentDir) {
  std::string strFull = strPath;
  std::replace(strFull.begin(), strFull.end(), '/', '\\');
  const bool bAbsolute = (!strFull.empty() && strFull[0] == '\\') || (strFull.size() >= 2 && strFull[1] == ':');
  if (!bAbsolute) strFull = JoinPath(strCurrentDir, strFull);

  std::vector<std::string> vecKept;
  for (const std::string& strPart : SplitAt(strFull, '\\')) {
    if (strPart.empty() || strPart == ".") continue;
    if (strPart == "..") {
      if (!vecKept.empty()) vecKept.pop_back();
      continue;
    }
    vecKept.push_back(strPart);
  }
  std::string strOut;
  for (const std::string& strPart : vecKept) strOut += '\\' + strPart;
  Cp936StrLwr(strOut.data());
  return strOut;
}
