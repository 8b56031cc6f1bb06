// The client packs of the merge benchmark: a larger client made from the
// built one, and putting a client back as it was after a merge.
#include "bench/bench_mergeclient.h"

#include <fcntl.h>
#include <unistd.h>

#include <memory>
#include <stdexcept>
#include <unordered_set>

#include "bench/bench_context.h"
#include "bench/bench_packfile.h"
#include "platform/scoped_handle.h"
#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/packindex.h"
#include "tools/filepacktools_lib/packtree.h"

namespace fs = std::filesystem;

namespace bench {

namespace {

// Where the larger client's data area ends: below 4 GiB by room for the
// entries a merge appends and for the index behind them.
constexpr uint64_t kLargeIndexOffset = 4100000000ull;
constexpr int kPadEntries = 3;

class CFd {
 public:
  CFd(const fs::path& path, int nFlags) : m_fd(open(path.c_str(), nFlags, 0644)) {
    if (m_fd < 0) throw std::runtime_error("cannot open " + path.string());
  }
  ~CFd() { close(m_fd); }
  CFd(const CFd&) = delete;
  CFd& operator=(const CFd&) = delete;
  int Get() const { return m_fd; }

 private:
  int m_fd;
};

// Copies qwLength bytes at qwOffset from one file to the same place in the
// other.
void CopyRange(const CFd& from, const CFd& to, uint64_t qwOffset, uint64_t qwLength) {
  std::unique_ptr<char[]> pchBuffer(new char[1 << 20]);
  for (uint64_t qwDone = 0; qwDone < qwLength;) {
    const size_t nChunk = static_cast<size_t>(std::min<uint64_t>(1 << 20, qwLength - qwDone));
    const off_t nAt = static_cast<off_t>(qwOffset + qwDone);
    if (pread(from.Get(), pchBuffer.get(), nChunk, nAt) != static_cast<ssize_t>(nChunk) ||
        pwrite(to.Get(), pchBuffer.get(), nChunk, nAt) != static_cast<ssize_t>(nChunk)) {
      throw std::runtime_error("cannot copy a range of a pack");
    }
    qwDone += nChunk;
  }
}

}  // namespace

void MakeLargeClient(const fs::path& pristine, const fs::path& large) {
  CPackFile pack;
  if (!pack.OpenForReading(ProgramPath(pristine))) throw std::runtime_error("cannot open " + pristine.string());
  PackHeader header = *pack.GetHeader();
  const std::string strRoot = FieldString(header.szRootName, kPackRootNameSize);
  {
    const CFd from(pristine, O_RDONLY);
    const CFd to(large, O_WRONLY | O_CREAT | O_TRUNC);
    CopyRange(from, to, 0, header.dwIndexOffset);
  }
  PackEntryMap mapEntry;
  for (const auto& item : *pack.GetEntryMap()) mapEntry.emplace(item.first, std::make_unique<PackEntry>(*item.second));
  PackDirMap mapDir = pack.GetDirMap();
  // Entries of zeros fill the space up to the new end of the data area;
  // nothing is written there, so the file holds a hole.
  const uint64_t qwPad = (kLargeIndexOffset - header.dwIndexOffset) / kPadEntries;
  for (int i = 0; i < kPadEntries; ++i) {
    const std::string strBelowRoot = "padding\\zeros" + std::to_string(i) + ".bin";
    auto pEntry = std::make_unique<PackEntry>();
    SetField(pEntry->szName, kPackNameSize, strRoot + "\\" + strBelowRoot);
    pEntry->dwOffset = static_cast<uint32_t>(header.dwIndexOffset + i * qwPad);
    pEntry->dwOrigSize = pEntry->dwStoredSize =
        static_cast<uint32_t>(i + 1 < kPadEntries ? qwPad : kLargeIndexOffset - pEntry->dwOffset);
    mapEntry.emplace(strRoot + "\\" + strBelowRoot, std::move(pEntry));
    TreeAddBelowRoot(mapDir, strRoot, strBelowRoot);
  }
  header.dwIndexOffset = static_cast<uint32_t>(kLargeIndexOffset);
  CScopedHandle hFile(CreateFileA(ProgramPath(large).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  const PackEntryList vecNone;
  if (!hFile || !WriteIndexRegions(hFile.Get(), header, {mapEntry, vecNone, mapDir, pack.GetFreeBlocks()})) {
    throw std::runtime_error("cannot write " + large.string());
  }
}

void RestoreTouched(const fs::path& pristine, const fs::path& client, const fs::path& update) {
  const CPackIndex index = ReadPackIndex(pristine);
  std::unordered_set<std::string> setUpdated;
  for (const PackEntry& entry : ReadPackIndex(update).vecEntries) setUpdated.insert(FieldString(entry.szName, kPackNameSize));
  const uint64_t qwSize = fs::file_size(pristine);
  const CFd from(pristine, O_RDONLY);
  const CFd to(client, O_WRONLY);
  CopyRange(from, to, 0, kPackHeaderSize);
  for (const PackEntry& entry : index.vecEntries) {
    if (setUpdated.count(FieldString(entry.szName, kPackNameSize))) CopyRange(from, to, entry.dwOffset, entry.dwStoredSize);
  }
  CopyRange(from, to, index.header.dwIndexOffset, qwSize - index.header.dwIndexOffset);
  if (ftruncate(to.Get(), static_cast<off_t>(qwSize)) != 0 || fsync(to.Get()) != 0) {
    throw std::runtime_error("cannot restore " + client.string());
  }
}

}  // namespace bench
