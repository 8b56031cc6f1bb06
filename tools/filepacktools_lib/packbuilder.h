// Writing a new pack from a list of files on disk.
//
// Encoding is the slow part, so a build runs as a bounded pipeline: one
// thread reads the sources in list order, workers tag and encode them, and
// the calling thread writes each blob in list order; the pack is the same
// byte for byte whatever the number of workers.
//
// The pack is written into a new file beside its destination and moved over
// the destination only once it is complete and flushed, so a build that
// fails part way leaves no half-written pack and keeps an older pack of the
// same name intact. Source files are deleted (bDeleteSrc) only after that
// move, and only those whose entry was recorded.
#pragma once

#include <string>
#include <vector>

#include "platform/scoped_handle.h"
#include "tools/filepacktools_lib/packindex.h"

// What names the entries and shapes the blobs of one build; fixed while it
// runs, read by every thread.
struct CBuildSettings {
  std::string strPackName;  // the root name written into the header
  std::string strRootPath;  // anchors of the tree for files named by the
  std::string strSrcRoot;   //   first occurrence of the root name
  std::string strRootDir;   // files below it are named relative to it; "" for none
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

class CPackBuilder {
 public:
  enum class Step { kDone, kSkipped, kFailed };

  CPackBuilder(CBuildPack pack, CBuildSettings settings) : m_pack(pack), m_settings(std::move(settings)) {}

  // Writes the pack strPackPath (in strDir) from vecFiles. False, with the
  // last error set, when it could not be written; the pack object's index,
  // tree and header are then as they were before.
  bool Build(const std::string& strDir, const std::string& strPackPath, const std::vector<std::string>& vecFiles);

  // Deletes the sources whose entries the build recorded, never the pack.
  void DeleteSources(const std::string& strPackPath) const;

  // Appends one file to the pack being written, on this thread.
  Step AppendFile(const std::string& strFile);

 private:
  bool WritePack(const std::vector<std::string>& vecFiles);
  bool AppendAll(const std::vector<std::string>& vecFiles);
  bool RecordItem(CBuildItem& item);
  bool WriteBlob(const unsigned char* pbyData, uint32_t dwSize);
  void RestoreState();

  CBuildPack m_pack;
  CBuildSettings m_settings;
  PackDirMap m_mapDirBefore;
  std::vector<std::string> m_vecRecorded;
};
