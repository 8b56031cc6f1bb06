// The merge: an update changing 1% of a client pack of over 1 GiB (plain
// client, compressed update, content tags), against its physical floor and
// against rewriting the whole pack; and the merge's peak memory.
#include <cstring>
#include <filesystem>
#include <memory>
#include <unordered_map>

#include "bench/bench_context.h"
#include "bench/bench_packfile.h"
#include "bench/bench_process.h"
#include "platform/file_io.h"
#include "platform/scoped_handle.h"
#include "platform/win32.h"
#include "tools/filepacktools_lib/packcodec.h"

namespace fs = std::filesystem;

namespace bench {

namespace {

constexpr int kReps = 5;
// The merge flushes the pack once its bytes are written; so does the floor.
constexpr bool kMergeFlushesThePack = true;
// Peak memory of the merge, in multiples of the largest entry.
constexpr double kMemoryTarget = 4.0;

// Puts the client pack back as built, flushed, so that no run pays for the
// writes of the one before.
void RestoreClient(const CMergeFiles& files) {
  fs::copy_file(files.pristine, files.client, fs::copy_options::overwrite_existing);
  FlushFile(files.client);
  SyncAll();
}

}  // namespace

CMergeFiles PrepareMerge(const CContext& context) {
  CMergeFiles files{context.work / "merge/client.pristine.pak", context.work / "merge/client.pak",
                    context.work / "merge/update.pak", context.work / "merge/copy.pak"};
  fs::create_directories(context.work / "merge");
  if (!fs::exists(files.pristine)) {
    Say("merge: building the client pack (plain, tags) and the update (compressed, tags)");
    RunChecked({context.strPaktool, "build", context.Root("client").string(), "--tags", "-o",
                files.pristine.string()});
    RunChecked({context.strPaktool, "build", context.Root("update").string(), "-z", "--tags", "-o",
                files.update.string()});
  }
  return files;
}

void RunMergeBench(const CContext& context, CTable& table) {
  const CMergeFiles files = PrepareMerge(context);
  const double dPackBytes = static_cast<double>(fs::file_size(files.pristine));
  const double dChanged = static_cast<double>(context.update.Bytes());
  Say("merge: " + std::to_string(context.update.vecFiles.size()) + " entries, " + Mebibytes(dChanged) + " into " +
      Mebibytes(dPackBytes));
  bool bVerified = false;
  const std::vector<CRun> vecBest = BestOf(
      kReps, {[&] {
                RestoreClient(files);
                CRun run = RunChecked({context.strPaktool, "merge", files.update.string(), files.client.string()});
                if (!bVerified) RunChecked({context.strPaktool, "verify", files.client.string()});
                bVerified = true;
                return run;
              },
              [&] {
                RestoreClient(files);
                return RunChecked({context.strSelf, "floor", files.update.string(), files.client.string()});
              },
              [&] {
                fs::remove(files.copy);
                SyncAll();
                const char* pszCopy = kMergeFlushesThePack ? "cp \"$0\" \"$1\" && sync \"$1\"" : "cp \"$0\" \"$1\"";
                return RunChecked({"sh", "-c", pszCopy, files.pristine.string(), files.copy.string()});
              }});
  fs::remove(files.copy);
  const CRun& merge = vecBest[0];
  const std::string strWhat = std::to_string(context.update.vecFiles.size()) + " entries, " + Mebibytes(dChanged);
  table.Add({"merge 1% (" + strWhat + ") vs floor", Seconds(merge.dSeconds),
             "floor " + Seconds(vecBest[1].dSeconds), merge.dSeconds / vecBest[1].dSeconds, Goal::kAtMost, 1.2,
             "merge time / time to decode the update's entries and write their bytes into the pack, flushed"});
  table.Add({"merge 1% vs rewriting the " + Mebibytes(dPackBytes) + " pack", Seconds(merge.dSeconds),
             "cp " + Seconds(vecBest[2].dSeconds), vecBest[2].dSeconds / merge.dSeconds, Goal::kAtLeast, 50,
             "copy time (cp of the pack, flushed) / merge time"});
  const double dLargest = static_cast<double>(context.client.Largest());
  table.Add({"merge peak memory", Mebibytes(merge.nMaxRssKiB * 1024.0) + " RSS",
             "largest entry " + Mebibytes(dLargest), merge.nMaxRssKiB * 1024.0 / dLargest, Goal::kAtMost,
             kMemoryTarget,
             "paktool merge's peak RSS / the largest entry's size (the pack is " + Mebibytes(dPackBytes) + ")"});
}

// Where the merge would put each entry: over the client's entry when it
// fits, else at the end of the data area.
int RunMergeFloor(const std::string& strUpdate, const std::string& strClient) {
  const CPackIndex update = ReadPackIndex(strUpdate);
  const CPackIndex client = ReadPackIndex(strClient);
  std::unordered_map<std::string, const PackEntry*> mapClient;
  for (const PackEntry& entry : client.vecEntries) mapClient[FieldString(entry.szName, kPackNameSize)] = &entry;

  CScopedHandle hUpdate(CreateFileA(ProgramPath(strUpdate).c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                    nullptr));
  CScopedHandle hMapping(hUpdate ? CreateFileMappingA(hUpdate.Get(), nullptr, PAGE_READWRITE, 0, 0, nullptr) : nullptr);
  CScopedHandle hClient(CreateFileA(ProgramPath(strClient).c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                    nullptr));
  if (!hMapping || !hClient) return 1;
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  LARGE_INTEGER liPos;
  uint32_t dwEnd = client.header.dwIndexOffset;
  for (const PackEntry& entry : update.vecEntries) {
    auto it = mapClient.find(FieldString(entry.szName, kPackNameSize));
    uint32_t dwOffset = dwEnd;
    if (it != mapClient.end() && entry.dwOrigSize <= it->second->dwOrigSize) {
      dwOffset = it->second->dwOffset;
    } else {
      dwEnd += entry.dwOrigSize;
    }
    CMappedView view;
    const unsigned char* pbyStored = view.Map(hMapping.Get(), entry.dwOffset, entry.dwStoredSize,
                                              info.dwAllocationGranularity);
    std::unique_ptr<unsigned char[]> pbyPlain(new unsigned char[uint64_t{entry.dwOrigSize} + kLzma86DecodeSlack]);
    uint32_t dwLen = entry.dwOrigSize;
    if (!pbyStored || LzmaUncompress(pbyStored, entry.dwStoredSize, pbyPlain.get(), &dwLen) != kLzmaOk ||
        !SeekFile(hClient.Get(), liPos, dwOffset) || !WriteAll(hClient.Get(), pbyPlain.get(), dwLen)) {
      return 1;
    }
  }
  return kMergeFlushesThePack && !FlushFileBuffers(hClient.Get()) ? 1 : 0;
}

}  // namespace bench
