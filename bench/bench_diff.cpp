// Making an update: paktool diff of the client pack against its updated
// tree (the client tree with the update's files in place), against hashing
// both sides' plain bytes once on every core; and a check that the update
// diff writes is the one a build by hand of the changed files gives.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "bench/bench_context.h"
#include "bench/bench_packfile.h"
#include "bench/bench_process.h"
#include "tools/filepacktools_lib/contenttag.h"

namespace fs = std::filesystem;

namespace bench {

namespace {

constexpr int kReps = 5;

struct CDiffFiles {
  fs::path client;   // the client pack: plain, tagged
  fs::path updated;  // the updated tree's root directory
  fs::path update;   // what diff writes
  fs::path byHand;   // the update built by hand
  fs::path list;     // its file list
};

// The updated tree: the client's files as hard links, the update's files
// copied over them; made again each run, in a second.
void MakeUpdatedTree(const CContext& context, const fs::path& root) {
  fs::remove_all(root.parent_path());
  for (const CFilePlan& plan : context.client.vecFiles) {
    fs::create_directories((root / plan.strRel).parent_path());
    fs::create_hard_link(context.Root("client") / plan.strRel, root / plan.strRel);
  }
  for (const CFilePlan& plan : context.update.vecFiles) {
    fs::remove(root / plan.strRel);
    fs::copy_file(context.Root("update") / plan.strRel, root / plan.strRel);
  }
}

CDiffFiles PrepareDiff(const CContext& context) {
  const fs::path dir = context.work / "diff";
  CDiffFiles files{dir / "client.pak", dir / "updated" / kRootName, dir / "update.pak", dir / "byhand.pak",
                   dir / "byhand.txt"};
  fs::create_directories(dir);
  if (!fs::exists(files.client)) {
    Say("diff: building the client pack (plain, tags)");
    RunChecked({context.strPaktool, "build", context.Root("client").string(), "--tags", "-o", files.client.string()});
  }
  MakeUpdatedTree(context, files.updated);
  return files;
}

// The update by hand: the update tree's files, which are exactly the
// changed ones, listed in entry-name order (the order diff writes) and
// built with content tags.
void BuildByHand(const CContext& context, const CDiffFiles& files) {
  std::vector<std::pair<std::string, std::string>> vecFiles;  // entry name, path
  for (const CFilePlan& plan : context.update.vecFiles) {
    std::string strName = std::string(kRootName) + "\\" + plan.strRel;
    std::replace(strName.begin(), strName.end(), '/', '\\');
    std::transform(strName.begin(), strName.end(), strName.begin(),
                   [](char ch) { return ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch - 'A' + 'a') : ch; });
    vecFiles.push_back({strName, ProgramPath(context.Root("update") / plan.strRel)});
  }
  std::sort(vecFiles.begin(), vecFiles.end());
  std::ofstream list(files.list, std::ios::binary | std::ios::trunc);
  list << ProgramPath(context.Root("update")) << "\r\n";
  for (const auto& file : vecFiles) list << file.second << "\r\n";
  list.close();
  RunChecked({context.strPaktool, "build", "--list", files.list.string(), "--tags", "-o", files.byHand.string()});
}

std::string FileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// One piece of work of the reference: a range of a mapped pack, or a file.
struct CHashJob {
  const unsigned char* pbyData = nullptr;
  size_t nSize = 0;
  std::string strFile;
};

// A file read whole into the thread's buffer (cheaper than mapping and
// unmapping each file, which flushes the other core's address cache).
bool HashFile(const std::string& strFile, std::vector<unsigned char>& vecBuffer, char* pszTag) {
  const int nFd = open(strFile.c_str(), O_RDONLY);
  struct stat info;
  if (nFd < 0 || fstat(nFd, &info) != 0) return false;
  const size_t nSize = static_cast<size_t>(info.st_size);
  if (vecBuffer.size() < nSize) vecBuffer.resize(nSize);
  size_t nDone = 0;
  for (ssize_t nRead; nDone < nSize && (nRead = read(nFd, vecBuffer.data() + nDone, nSize - nDone)) > 0;) {
    nDone += static_cast<size_t>(nRead);
  }
  close(nFd);
  return nDone == nSize && MakeContentTag(vecBuffer.data(), nSize, pszTag);
}

}  // namespace

void RunDiffBench(const CContext& context, CTable& table) {
  const CDiffFiles files = PrepareDiff(context);
  const double dPackBytes = static_cast<double>(fs::file_size(files.client));
  Say("diff: the " + Mebibytes(dPackBytes) + " client pack against its updated tree (" +
      std::to_string(context.update.vecFiles.size()) + " files changed)");
  const std::vector<CRun> vecBest =
      BestOf(kReps, {[&] {
                       fs::remove(files.update);
                       SyncAll();
                       return RunChecked({context.strPaktool, "diff", files.client.string(), files.updated.string(),
                                          "-o", files.update.string()});
                     },
                     [&] {
                       SyncAll();
                       return RunChecked({context.strSelf, "hashboth", files.client.string(), files.updated.string()});
                     }});
  BuildByHand(context, files);
  const bool bSame = FileBytes(files.update) == FileBytes(files.byHand);
  if (!bSame) throw std::runtime_error("the update diff wrote is not the one built by hand");
  const CRun& diff = vecBest[0];
  table.Add({"diff " + Mebibytes(dPackBytes) + " pack vs updated tree", Seconds(diff.dSeconds),
             "hash both " + Seconds(vecBest[1].dSeconds), diff.dSeconds / vecBest[1].dSeconds, Goal::kAtMost, 1.3,
             "diff time (update written, equal to the one built by hand) / time to MD5 both sides' plain bytes on "
             "every core"});
}

// Every entry of the (plain) pack from one mapping and every file of the
// tree read whole, MD5 on one thread per core, taking jobs in turn.
int RunHashBoth(const std::string& strPack, const std::string& strTree) {
  const CPackIndex index = ReadPackIndex(strPack);
  const int nFd = open(strPack.c_str(), O_RDONLY);
  struct stat info;
  if (nFd < 0 || fstat(nFd, &info) != 0) return 1;
  void* pPack = mmap(nullptr, static_cast<size_t>(info.st_size), PROT_READ, MAP_PRIVATE, nFd, 0);
  close(nFd);
  if (pPack == MAP_FAILED || index.header.byCompressed) return 1;
  std::vector<CHashJob> vecJobs;
  for (const PackEntry& entry : index.vecEntries) {
    vecJobs.push_back({static_cast<const unsigned char*>(pPack) + entry.dwOffset, entry.dwOrigSize, std::string()});
  }
  for (const auto& item : fs::recursive_directory_iterator(strTree)) {
    if (item.is_regular_file()) vecJobs.push_back({nullptr, 0, item.path().string()});
  }
  std::atomic<size_t> nNext{0};
  std::atomic<bool> bFailed{false};
  std::vector<std::thread> vecThreads;
  for (long i = 0; i < sysconf(_SC_NPROCESSORS_ONLN); ++i) {
    vecThreads.emplace_back([&] {
      char szTag[kPackTagSize];
      std::vector<unsigned char> vecBuffer;
      for (size_t n; (n = nNext++) < vecJobs.size();) {
        const CHashJob& job = vecJobs[n];
        const bool bOk =
            job.pbyData ? MakeContentTag(job.pbyData, job.nSize, szTag) : HashFile(job.strFile, vecBuffer, szTag);
        if (!bOk) bFailed = true;
      }
    });
  }
  for (std::thread& thread : vecThreads) thread.join();
  munmap(pPack, static_cast<size_t>(info.st_size));
  return bFailed ? 1 : 0;
}

}  // namespace bench
