#include "tools/filepacktools_lib/packcontent.h"

#include "platform/file_io.h"
#include "platform/scoped_handle.h"
#include "tools/filepacktools_lib/contenttag.h"
#include "tools/filepacktools_lib/orderedpipeline.h"

namespace {

// A source on its way through the pipeline; results come back in order,
// which a map does not need, but the bounded window does.
struct CTagItem {
  const CContentSource* pSource = nullptr;
  CContentTag tag = {};
  bool bFailed = false;
  DWORD dwError = ERROR_SUCCESS;
};

using CTagPipeline = COrderedPipeline<CTagItem>;

// Results are a few bytes each: a deep window keeps the workers busy
// behind a large entry the writer is still waiting for.
constexpr size_t kItemsPerWorker = 64;

bool TagFile(const std::string& strFile, CContentTag& tag) {
  CScopedHandle hFile(CreateFileA(strFile.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  uint64_t qwSize = 0;
  if (!hFile || !FileSize(hFile.Get(), qwSize)) return false;
  if (qwSize > UINT32_MAX) {
    SetLastError(ERROR_FILE_TOO_LARGE);  // sizes are 32 bits wide
    return false;
  }
  tag.dwSize = static_cast<uint32_t>(qwSize);
  if (qwSize == 0) return MakeContentTag("", 0, tag.szTag);  // an empty file cannot be mapped
  CScopedHandle hMapping(CreateFileMappingA(hFile.Get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!hMapping) return false;
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  CMappedView view;
  const unsigned char* pbyData = view.Map(hMapping.Get(), 0, qwSize, info.dwAllocationGranularity);
  return pbyData && MakeContentTag(pbyData, tag.dwSize, tag.szTag);
}

bool TagEntry(const CEntryReader& reader, const PackEntry& entry, CContentTag& tag) {
  CEntryBytes bytes;
  if (!reader.ReadPlainBytes(entry, bytes)) return false;
  tag.dwSize = bytes.dwSize;
  return MakeContentTag(bytes.pbyData, bytes.dwSize, tag.szTag);
}

void TagItem(const CEntryReader* pReader, CTagItem& item) {
  const CContentSource& source = *item.pSource;
  const bool bOk = source.pEntry ? pReader && TagEntry(*pReader, *source.pEntry, item.tag)
                                 : TagFile(source.strFile, item.tag);
  if (!bOk) {
    item.bFailed = true;
    item.dwError = pReader || !source.pEntry ? GetLastError() : ERROR_INVALID_PARAMETER;
  }
}

}  // namespace

bool TagContent(const std::vector<CContentSource>& vecSources, const CEntryReader* pReader, int nWorkers,
                ContentTagMap& mapTags, std::string& strFailed) {
  const size_t nThreads = PipelineWorkerCount(nWorkers);
  DWORD dwError = ERROR_NOT_ENOUGH_MEMORY;  // when no thread starts
  bool bOk = false;
  {
    CTagPipeline pipeline(kItemsPerWorker * nThreads, UINT64_MAX);
    const bool bStarted = pipeline.Start(
        nThreads,
        [&vecSources](CTagPipeline& out) {
          for (const CContentSource& source : vecSources) {
            CTagItem item;
            item.pSource = &source;
            if (!out.Push(std::move(item), 0)) return;
          }
        },
        [pReader](CTagItem& item) { TagItem(pReader, item); });
    if (bStarted) {
      bOk = true;
      CTagItem item;
      while (bOk && pipeline.Pop(item)) {
        if (item.bFailed) {
          strFailed = item.pSource->strName;
          dwError = item.dwError;
          bOk = false;
        } else {
          mapTags[item.pSource->strName] = item.tag;
        }
      }
    }
  }
  if (!bOk) SetLastError(dwError);
  return bOk;
}
