// Opening a pack of 200 000 entries against reading its index bytes.
#include <algorithm>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "bench/bench_context.h"
#include "bench/bench_packfile.h"
#include "bench/bench_process.h"
#include "platform/file_io.h"
#include "tools/filepacktools_lib/crealizepack.h"

namespace fs = std::filesystem;

namespace bench {

namespace {

constexpr size_t kEntries = 200000;
constexpr int kReps = 5;

}  // namespace

void RunOpenBench(const CContext& context, CTable& table) {
  const fs::path path = context.work / "open200k.pak";
  if (!fs::exists(path)) {
    WriteManyEntryPack(path, kEntries);
    RunChecked({context.strPaktool, "verify", path.string()});
  }
  Say("open: " + std::to_string(kEntries) + " entries");
  const std::string strPath = ProgramPath(path);
  const CPackIndex index = ReadPackIndex(path);
  const uint64_t qwIndexBytes = fs::file_size(path) - index.header.dwIndexOffset;
  // The reference reads into memory already touched: only the read counts.
  std::unique_ptr<char[]> pchBuffer(new char[qwIndexBytes]);
  std::fill(pchBuffer.get(), pchBuffer.get() + qwIndexBytes, 0);

  const std::vector<CRun> vecBest = BestOf(
      kReps, {[&] {
                CPackFile pack;
                CRun run = TimeHere([&] {
                  if (!pack.Open(strPath)) throw std::runtime_error("cannot open " + path.string());
                });
                if (pack.GetEntryMap()->size() != kEntries) throw std::runtime_error("open lost entries");
                return run;
              },
              [&] {
                return TimeHere([&] {
                  CScopedHandle hFile(CreateFileA(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
                  LARGE_INTEGER liPos;
                  if (!hFile || !SeekFile(hFile.Get(), liPos, index.header.dwIndexOffset) ||
                      !ReadAll(hFile.Get(), pchBuffer.get(), qwIndexBytes)) {
                    throw std::runtime_error("cannot read " + path.string());
                  }
                });
              }});
  table.Add({"open, 200 000 entries", Seconds(vecBest[0].dSeconds),
             "read " + Mebibytes(static_cast<double>(qwIndexBytes)) + " " + Seconds(vecBest[1].dSeconds),
             vecBest[0].dSeconds / vecBest[1].dSeconds, Goal::kAtMost, 2.0,
             "CPackFile::Open time / time to read the index, directory table and free list into memory"});
}

}  // namespace bench
