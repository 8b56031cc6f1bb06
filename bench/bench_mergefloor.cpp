// The merge's floor, run as a child process: what any merge of the update
// must do at the least. The update's entries are decoded on every core and
// their bytes written where the merge puts them (over the client's entry
// when it fits, else at the end of the data area), between the two flushes
// an all-or-nothing merge needs: one that makes its journal safe before the
// first write (here a file of a header's size), and one of the pack at the
// end.
#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <unordered_map>
#include <vector>

#include "bench/bench_context.h"
#include "bench/bench_packfile.h"
#include "platform/file_io.h"
#include "platform/scoped_handle.h"
#include "platform/win32.h"
#include "tools/filepacktools_lib/packcodec.h"

namespace bench {

namespace {

struct CFloorJob {
  const PackEntry* pEntry;
  uint32_t dwOffset;
};

CScopedHandle OpenForWriting(const std::string& strPath, DWORD dwDisposition) {
  return CScopedHandle(CreateFileA(ProgramPath(strPath).c_str(), GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, dwDisposition, FILE_ATTRIBUTE_NORMAL,
                                   nullptr));
}

// Decodes the jobs it takes and writes each through a handle of its own.
bool DecodeAndWrite(const std::vector<CFloorJob>& vecJobs, std::atomic<size_t>& nNext, HANDLE hMapping,
                    const std::string& strClient) {
  CScopedHandle hClient = OpenForWriting(strClient, OPEN_EXISTING);
  if (!hClient) return false;
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  LARGE_INTEGER liPos;
  for (size_t i; (i = nNext.fetch_add(1)) < vecJobs.size();) {
    const PackEntry& entry = *vecJobs[i].pEntry;
    CMappedView view;
    const unsigned char* pbyStored =
        view.Map(hMapping, entry.dwOffset, entry.dwStoredSize, info.dwAllocationGranularity);
    std::unique_ptr<unsigned char[]> pbyPlain(new unsigned char[uint64_t{entry.dwOrigSize} + kLzma86DecodeSlack]);
    uint32_t dwLen = entry.dwOrigSize;
    if (!pbyStored || LzmaUncompress(pbyStored, entry.dwStoredSize, pbyPlain.get(), &dwLen) != kLzmaOk ||
        !SeekFile(hClient.Get(), liPos, vecJobs[i].dwOffset) || !WriteAll(hClient.Get(), pbyPlain.get(), dwLen)) {
      return false;
    }
  }
  return true;
}

}  // namespace

int RunMergeFloor(const std::string& strUpdate, const std::string& strClient) {
  const CPackIndex update = ReadPackIndex(strUpdate);
  const CPackIndex client = ReadPackIndex(strClient);
  std::unordered_map<std::string, const PackEntry*> mapClient;
  for (const PackEntry& entry : client.vecEntries) mapClient[FieldString(entry.szName, kPackNameSize)] = &entry;
  std::vector<CFloorJob> vecJobs;
  uint32_t dwEnd = client.header.dwIndexOffset;
  for (const PackEntry& entry : update.vecEntries) {
    auto it = mapClient.find(FieldString(entry.szName, kPackNameSize));
    const bool bFits = it != mapClient.end() && entry.dwOrigSize <= it->second->dwOrigSize;
    vecJobs.push_back({&entry, bFits ? it->second->dwOffset : dwEnd});
    if (!bFits) dwEnd += entry.dwOrigSize;
  }

  CScopedHandle hUpdate(CreateFileA(ProgramPath(strUpdate).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  CScopedHandle hMapping(hUpdate ? CreateFileMappingA(hUpdate.Get(), nullptr, PAGE_READONLY, 0, 0, nullptr) : nullptr);
  CScopedHandle hClient = OpenForWriting(strClient, OPEN_EXISTING);
  const std::string strFlushed = strClient + ".floor";
  CScopedHandle hFlushed = OpenForWriting(strFlushed, CREATE_ALWAYS);
  if (!hMapping || !hClient || !hFlushed || !WriteAll(hFlushed.Get(), &client.header, sizeof(client.header)) ||
      !FlushFileBuffers(hFlushed.Get())) {
    return 1;
  }
  const size_t nThreads = std::max(1u, std::thread::hardware_concurrency());
  std::atomic<size_t> nNext{0};
  std::vector<char> vecOk(nThreads, 0);
  std::vector<std::thread> vecThreads;
  for (size_t n = 0; n < nThreads; ++n) {
    vecThreads.emplace_back([&, n] { vecOk[n] = DecodeAndWrite(vecJobs, nNext, hMapping.Get(), strClient); });
  }
  for (std::thread& thread : vecThreads) thread.join();
  hFlushed.Reset();
  DeleteFileA(ProgramPath(strFlushed).c_str());
  const bool bOk = std::all_of(vecOk.begin(), vecOk.end(), [](char b) { return b != 0; });
  return bOk && FlushFileBuffers(hClient.Get()) ? 0 : 1;
}

}  // namespace bench
