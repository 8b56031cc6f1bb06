#include "tools/filepacktools_lib/packcontent.h"

#include <new>
#include <vector>

#include "platform/file_io.h"
#include "platform/last_error.h"
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

// Files are read into a buffer each worker keeps: unmapping a view of every
// file would cost each a flush of the other cores' address caches.
bool TagFile(const std::string& strFile, CContentTag& tag) {
  CScopedHandle hFile(CreateFileA(strFile.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  uint64_t qwSize = 0;
  if (!hFile || !FileSize(hFile.Get(), qwSize)) return false;
  if (qwSize > UINT32_MAX) {
    SetLastError(ERROR_FILE_TOO_LARGE);  // sizes are 32 bits wide
    return false;
  }
  thread_local std::vector<unsigned char> t_vecBuffer;
  try {
    if (t_vecBuffer.size() < qwSize) t_vecBuffer.resize(static_cast<size_t>(qwSize));
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  tag.dwSize = static_cast<uint32_t>(qwSize);
  return ReadAll(hFile.Get(), t_vecBuffer.data(), qwSize) && MakeContentTag(t_vecBuffer.data(), tag.dwSize, tag.szTag);
}

bool TagEntry(const CContentPack& pack, const PackEntry& entry, CContentTag& tag) {
  tag.dwSize = entry.dwOrigSize;
  if (pack.pbyWhole) {
    if (uint64_t{entry.dwOffset} + entry.dwStoredSize > pack.qwWholeSize || entry.dwOrigSize > entry.dwStoredSize) {
      SetLastError(ERROR_INVALID_DATA);
      return false;
    }
    return MakeContentTag(pack.pbyWhole + entry.dwOffset, entry.dwOrigSize, tag.szTag);
  }
  if (!pack.pReader) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  CEntryBytes bytes;
  return pack.pReader->ReadPlainBytes(entry, bytes) && MakeContentTag(bytes.pbyData, bytes.dwSize, tag.szTag);
}

void TagItem(const CContentPack& pack, CTagItem& item) {
  const CContentSource& source = *item.pSource;
  const bool bOk = source.pEntry ? TagEntry(pack, *source.pEntry, item.tag) : TagFile(source.strFile, item.tag);
  if (!bOk) {
    item.bFailed = true;
    item.dwError = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_INVALID_DATA;
  }
}

}  // namespace

bool TagContent(const std::vector<CContentSource>& vecSources, const CContentPack& pack, int nWorkers,
                ContentTagMap& mapTags, std::string& strFailed) {
  const size_t nThreads = PipelineWorkerCount(nWorkers);
  CFirstError first;  // outlives the pipeline, whose end is no cause
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
      [&pack](CTagItem& item) { TagItem(pack, item); });
  if (!bStarted) return first.Fail(ERROR_NOT_ENOUGH_MEMORY);
  CTagItem item;
  while (first.Ok() && pipeline.Pop(item)) {
    if (item.bFailed) {
      strFailed = item.pSource->strName;
      first.Fail(item.dwError);
    } else {
      mapTags[item.pSource->strName] = item.tag;
    }
  }
  return first.Ok();
}
