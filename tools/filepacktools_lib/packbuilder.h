// Writing a new pack from a list of files on disk, or from chosen entries of
// an open pack.
//
// Encoding is the slow part, so a build runs as a bounded pipeline: one
// thread names the sources and reads files in list order, workers read pack
// entries (decoding them), tag and encode, and the calling thread writes
// each blob in list order; the pack is the same byte for byte whatever the
// number of workers.
//
// The pack is written into a new file beside its destination and moved over
// the destination only once it is complete and flushed, so a build that
// fails part way leaves no half-written pack and keeps an older pack of the
// same name intact. Source files are deleted (bDeleteSrc) only after that
// move, and only those whose entry was recorded.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/scoped_handle.h"
#include "tools/filepacktools_lib/packbuildnames.h"
#include "tools/filepacktools_lib/packexclude.h"
#include "tools/filepacktools_lib/packindex.h"
#include "tools/filepacktools_lib/packread.h"

// What names the entries and shapes the blobs of one build; fixed while it
// runs, read by every thread.
struct CBuildSettings {
  std::string strPackName;  // the root name written into the header
  std::string strRootPath;  // anchors of the tree for files named by the
  std::string strSrcRoot;   //   first occurrence of the root name
  std::string strRootDir;   // files below it are named relative to it; "" for none
  CBuildExcludes excludes;  // files whose entry names fall under these are left out
  bool bCompress = false;
  bool bTags = false;
  int nWorkers = 0;  // 0: one per processor
};

// The parts of a pack object that a build fills.
struct CBuildPack {
  PackHeader& header;
  PackEntryMap& mapEntry;
  PackDirMap& mapDir;
  const PackFreeList& vecFree;
  CScopedHandle& hBuildFile;  // the file being written, while a build runs
  int32_t& nAddedCount;
};

struct CBuildItem;

// An entry a build takes from an open pack: its name there, which the new
// pack keeps, and its record in that pack's index.
struct CPackSourceEntry {
  std::string strName;
  const PackEntry* pEntry;
};

// An entry a build makes itself: its name, and the plain bytes a function
// gives it on a worker thread (nIndex: its place in the list). The function
// returns false, with the last error set, to fail the build there.
struct CMadeEntry {
  std::string strName;
  uint32_t dwSize;  // what it will give: the window of the pipeline counts it
};
using EntryMaker = std::function<bool(size_t nIndex, std::unique_ptr<unsigned char[]>& pbyPlain, uint32_t& dwSize)>;

// Where a build's entries come from, in the order they are written. Files
// on disk are named by the build's settings; the first file of a name wins,
// and one that cannot be opened or has no entry name is passed over.
// Entries of an open pack, and entries a build makes, keep their names,
// each of which must lie below the build's root name (else the build fails
// with ERROR_INVALID_DATA); their plain bytes are read (decoded), or made,
// on the workers. The lists, the reader and the maker must outlive the
// build.
class CBuildSource {
 public:
  explicit CBuildSource(const std::vector<std::string>& vecFiles) : m_pFiles(&vecFiles) {}
  CBuildSource(const CEntryReader& reader, const std::vector<CPackSourceEntry>& vecEntries)
      : m_pReader(&reader), m_pEntries(&vecEntries) {}
  CBuildSource(const std::vector<CMadeEntry>& vecMade, const EntryMaker& fnMake)
      : m_pMade(&vecMade), m_pfnMake(&fnMake) {}

  const std::vector<std::string>* Files() const { return m_pFiles; }
  const CEntryReader* Reader() const { return m_pReader; }
  const std::vector<CPackSourceEntry>* Entries() const { return m_pEntries; }
  const std::vector<CMadeEntry>* Made() const { return m_pMade; }
  const EntryMaker* Maker() const { return m_pfnMake; }

 private:
  const std::vector<std::string>* m_pFiles = nullptr;
  const CEntryReader* m_pReader = nullptr;
  const std::vector<CPackSourceEntry>* m_pEntries = nullptr;
  const std::vector<CMadeEntry>* m_pMade = nullptr;
  const EntryMaker* m_pfnMake = nullptr;
};

// How a build with these settings takes each of vecFiles, in list order,
// by the steps the build takes before reading a file: its entry name (the
// build's own naming), whether an earlier file has that name, and whether
// it opens. Reads nothing.
std::vector<CBuildFileName> NameBuildFiles(const CBuildSettings& settings, const std::vector<std::string>& vecFiles);

class CPackBuilder {
 public:
  enum class Step { kDone, kSkipped, kFailed };

  CPackBuilder(CBuildPack pack, CBuildSettings settings) : m_pack(pack), m_settings(std::move(settings)) {}

  // Writes the pack strPackPath (in strDir) from the source. False, with the
  // last error set, when it could not be written; the pack object's index,
  // tree and header are then as they were before. True once the new pack
  // was moved over strPackPath, with the last error set when the move could
  // not be made durable (platform/durable_replace.h).
  bool Build(const std::string& strDir, const std::string& strPackPath, const CBuildSource& source);

  // Deletes the sources whose entries the build recorded, never the pack;
  // none while the pack's move is not sure to be on disk, since a power cut
  // could then take the pack back and leave the sources gone.
  void DeleteSources(const std::string& strPackPath) const;

  // Appends one file to the pack being written, on this thread.
  Step AppendFile(const std::string& strFile);

 private:
  bool WritePack(const CBuildSource& source);
  bool AppendAll(const CBuildSource& source);
  bool RecordItem(CBuildItem& item);
  bool WriteBlob(const unsigned char* pbyData, uint32_t dwSize);
  void RestoreState();

  CBuildPack m_pack;
  CBuildSettings m_settings;
  PackDirMap m_mapDirBefore;
  std::vector<std::string> m_vecRecorded;
  bool m_bMoveDurable = false;
};
