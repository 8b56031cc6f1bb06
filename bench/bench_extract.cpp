// Reading packs back: extraction to disk and entry streams of the
// compressed build's pack against xz decoding the same bytes, and
// extraction of the plain client pack against copying its tree.
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>

#include "bench/bench_context.h"
#include "bench/bench_packfile.h"
#include "bench/bench_process.h"
#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/packstream.h"

namespace fs = std::filesystem;

namespace bench {

namespace {

constexpr int kReps = 5;
// Each plain run writes the 1.1 GiB client tree again, kept until the end.
constexpr int kPlainReps = 3;

std::string ReadAllBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every file of the tree came out as it went in.
void CheckExtracted(const CTree& tree, const fs::path& source, const fs::path& extracted) {
  for (const CFilePlan& plan : tree.vecFiles) {
    const std::string strBytes = ReadAllBytes(extracted / plan.strRel);
    if (strBytes.size() != plan.qwSize || strBytes != ReadAllBytes(source / plan.strRel)) {
      throw std::runtime_error("extracted " + plan.strRel + " differs from its source");
    }
  }
}

std::vector<std::string> XzDecode(const CContext& context) {
  return {"xz", "-d", "--format=raw", XzFilterX86(), XzFilterLzma(), "-c", (context.work / "build.xz").string()};
}

void RunCompressedExtract(const CContext& context, CTable& table) {
  const fs::path dir = context.work / "extract";
  const double dBytes = static_cast<double>(context.buildTree.Bytes());
  Say("extract: compressed pack of " + std::to_string(context.buildTree.vecFiles.size()) + " entries");
  // A new directory for each run, removed only at the end: on ext4 the
  // files just deleted make creating files slow for a while.
  fs::remove_all(dir);
  int nRun = 0;
  const std::vector<CRun> vecBest =
      BestOf(kReps, {[&] {
                       const fs::path out = dir / std::to_string(++nRun);
                       fs::create_directories(out);
                       SyncAll();
                       return RunChecked({context.strPaktool, "extract", (context.work / "build.pak").string(), "-C",
                                          out.string()});
                     },
                     [&] {
                       SyncAll();
                       return RunChecked(XzDecode(context), (context.work / "build.xz.out").string());
                     }});
  CheckExtracted(context.buildTree, context.Root("buildtree"), dir / "1" / kRootName);
  fs::remove_all(dir);
  fs::remove(context.work / "build.xz.out");
  table.Add({"extract, compressed (" + std::to_string(context.buildTree.vecFiles.size()) + " files)",
             Seconds(vecBest[0].dSeconds) + ", " + Rate(dBytes, vecBest[0].dSeconds),
             "xz -d " + Seconds(vecBest[1].dSeconds) + ", " + Rate(dBytes, vecBest[1].dSeconds),
             vecBest[1].dSeconds / vecBest[0].dSeconds, Goal::kAtLeast, 0.9,
             "throughput over xz -d's into one file (xz time / paktool extract time)"});
}

// Every entry through StreamOpen and StreamRead, into memory.
uint64_t StreamEverything(CPackFile& pack, std::vector<unsigned char>& vecBuffer) {
  uint64_t qwBytes = 0;
  for (const auto& item : *pack.GetEntryMap()) {
    const std::string& strName = item.first;
    const std::string strPath = "x" + strName.substr(strName.find('\\'));
    PackStream* pStream = pack.StreamOpen(strPath.c_str());
    if (!pStream) throw std::runtime_error("cannot stream " + strName);
    const uint32_t dwSize = item.second->dwOrigSize;
    if (vecBuffer.size() < dwSize) vecBuffer.resize(dwSize);
    qwBytes += CPackFile::StreamRead(vecBuffer.data(), dwSize, 0, pStream);
    CPackFile::StreamClose(pStream);
  }
  return qwBytes;
}

void RunStream(const CContext& context, CTable& table) {
  const double dBytes = static_cast<double>(context.buildTree.Bytes());
  Say("stream: every entry of the compressed pack");
  CPackFile pack;
  if (!pack.Open(ProgramPath(context.work / "build.pak"))) throw std::runtime_error("cannot open build.pak");
  std::vector<unsigned char> vecBuffer;
  uint64_t qwStreamed = 0;
  const std::vector<CRun> vecBest =
      BestOf(kReps, {[&] { return TimeHere([&] { qwStreamed = StreamEverything(pack, vecBuffer); }); },
                     [&] { return RunChecked(XzDecode(context)); }});
  if (qwStreamed != context.buildTree.Bytes()) throw std::runtime_error("streams gave the wrong number of bytes");
  table.Add({"stream, compressed (" + std::to_string(context.buildTree.vecFiles.size()) + " entries)",
             Seconds(vecBest[0].dSeconds) + ", " + Rate(dBytes, vecBest[0].dSeconds),
             "xz -d " + Seconds(vecBest[1].dSeconds) + ", " + Rate(dBytes, vecBest[1].dSeconds),
             vecBest[1].dSeconds / vecBest[0].dSeconds, Goal::kAtLeast, 0.9,
             "throughput over xz -d's into /dev/null (xz time / StreamOpen+StreamRead time)"});
}

void RunPlainExtract(const CContext& context, CTable& table) {
  const fs::path out = context.work / "extract";
  const fs::path copy = context.work / "copy";
  const double dBytes = static_cast<double>(context.client.Bytes());
  Say("extract: plain pack of " + std::to_string(context.client.vecFiles.size()) + " entries");
  // As for the compressed pack, a new directory for each run, all removed
  // at the end: a run right after a 1 GiB deletion measures the deletion.
  fs::remove_all(out);
  fs::remove_all(copy);
  int nOurs = 0;
  int nCopies = 0;
  const std::vector<CRun> vecBest =
      BestOf(kPlainReps, {[&] {
                            const fs::path dir = out / std::to_string(++nOurs);
                            fs::create_directories(dir);
                            SyncAll();
                            return RunChecked({context.strPaktool, "extract",
                                               (context.work / "client-plain.pak").string(), "-C", dir.string()});
                          },
                          [&] {
                            const fs::path dir = copy / std::to_string(++nCopies);
                            fs::create_directories(dir);
                            SyncAll();
                            return RunChecked({"cp", "-r", context.Root("client").string(), (dir / kRootName).string()});
                          }});
  CheckExtracted(context.client, context.Root("client"), out / "1" / kRootName);
  fs::remove_all(out);
  fs::remove_all(copy);
  table.Add({"extract, plain (" + std::to_string(context.client.vecFiles.size()) + " files)",
             Seconds(vecBest[0].dSeconds) + ", " + Rate(dBytes, vecBest[0].dSeconds),
             "cp -r " + Seconds(vecBest[1].dSeconds) + ", " + Rate(dBytes, vecBest[1].dSeconds),
             vecBest[1].dSeconds / vecBest[0].dSeconds, Goal::kAtLeast, 0.5,
             "cp -r time / paktool extract time"});
}

}  // namespace

void RunExtractBench(const CContext& context, CTable& table) {
  for (const char* pszFile : {"build.pak", "build.xz", "client-plain.pak"}) {
    if (!fs::exists(context.work / pszFile)) {
      throw std::runtime_error(std::string("extract reads the build benchmark's ") + pszFile + ": run that first");
    }
  }
  RunCompressedExtract(context, table);
  RunStream(context, table);
  RunPlainExtract(context, table);
}

}  // namespace bench
