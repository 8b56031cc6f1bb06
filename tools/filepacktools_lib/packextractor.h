// Directory extraction: a pack directory written back to disk as a tree.
//
// A pack is untrusted input. Every file and directory that a directory
// extraction makes is named by one safe component of a record (never "",
// ".", "..", a drive or device name, ...) below a directory it made or
// started in, so nothing lands outside the starting directory; an unsafe
// record is skipped with everything below it. Paths are built whole and
// bounded by MAX_PATH, so no write depends on a directory change having
// worked.
//
// The walk of the pack's tree and the work on disk are split into steps
// (enter a directory, make one, write a file) that are carried out strictly
// in the order of the walk. From a compressed pack, worker threads decode
// the entries ahead of the writer; the result on disk, the current
// directory left behind and every skip are the same for any number of
// workers.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tools/filepacktools_lib/packindex.h"
#include "tools/filepacktools_lib/packread.h"
#include "tools/filepacktools_lib/packrequest.h"

struct CExtractStep;

// What an extraction reads: an open pack's index, tree and entries.
struct CExtractSource {
  const PackEntryMap& mapEntry;
  const PackDirMap& mapDir;
  CEntryReader reader;
  int nWorkers;  // for a compressed pack; 0: one per processor
};

class CPackExtractor {
 public:
  explicit CPackExtractor(const CExtractSource& source) : m_source(source) {}

  // Writes the children of the pack directory strKey into the existing disk
  // directory strDiskDir, recursing into sub-directories.
  void Run(const std::string& strKey, const std::string& strDiskDir);

  // Writes the requested entries to their files, in list order.
  void RunFiles(const std::vector<CExtractRequest>& vecRequests, const ExtractNotify& fnNotify);

  static bool IsDirectory(const std::string& strPath);

  static std::string LastComponent(const std::string& strPath) {
    const size_t nSep = strPath.rfind('\\');
    return nSep == std::string::npos ? strPath : strPath.substr(nSep + 1);
  }

  static bool FitsPathBuffer(const std::string& strPath) { return strPath.size() < MAX_PATH; }

  // Creates strPath unless it exists; true when it is a directory now.
  static bool MakeDirectory(const std::string& strPath);

  // One write of the whole content; a failed or short write leaves no file.
  static bool WriteNewFile(const char* pszOutFile, const unsigned char* pbyData, uint32_t dwSize);

 private:
  using CEmit = std::function<bool(CExtractStep&&)>;
  using CProduce = std::function<void(const CEmit&)>;

  // Runs the steps fnProduce emits: applied at once, or, from a compressed
  // pack, through a pipeline that decodes file steps ahead.
  void Execute(const CProduce& fnProduce);

  // The walk: emits the steps below strKey. False once fnEmit refused one.
  bool Walk(const std::string& strKey, const std::string& strDiskDir, const CEmit& fnEmit);
  bool WalkChild(const std::string& strKey, const PackDirRecord& child, const std::string& strDiskDir,
                 const CEmit& fnEmit);

  // Decodes a file step's entry on a worker thread.
  void Decode(CExtractStep& step) const;
  // Carries a step out on disk, unless it lies below a directory that could
  // not be made.
  void Apply(CExtractStep& step);
  int WriteFileStep(CExtractStep& step) const;
  bool IsSkipped(const std::string& strDiskPath);
  size_t WorkerCount() const;

  const CExtractSource& m_source;
  // Pack directories already walked: a hostile table that lists a
  // directory many times costs one walk of it, not a walk per listing.
  std::set<std::string> m_setWalked;
  // A directory that could not be made; the steps below it are skipped.
  std::string m_strSkipped;
  ExtractNotify m_fnNotify;
};
