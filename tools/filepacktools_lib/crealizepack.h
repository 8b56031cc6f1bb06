// The pack library's facade: CPackFile, one pack in memory, and
// CRealizePack, which owns the two packs of a merge.
//
// Names. Every entry name and directory key is a code page 936 byte string,
// components separated by a backslash, beginning with the pack's root name,
// folded to lower case in A-Z only (MakeLower) and compared byte for byte.
//
// Threads. A CPackFile is used by one thread at a time; nothing locks.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/private_copy.h"
#include "platform/scoped_handle.h"
#include "platform/win32.h"
#include "tools/filepacktools_lib/packbuildnames.h"
#include "tools/filepacktools_lib/packcontent.h"
#include "tools/filepacktools_lib/packdelta.h"
#include "tools/filepacktools_lib/packdiff.h"
#include "tools/filepacktools_lib/packindex.h"
#include "tools/filepacktools_lib/packpreview.h"
#include "tools/filepacktools_lib/packread.h"
#include "tools/filepacktools_lib/packrecords.h"
#include "tools/filepacktools_lib/packremove.h"
#include "tools/filepacktools_lib/packrequest.h"

class CPackBuilder;
class CBuildSource;
struct CBuildSettings;
struct CExtractSource;
struct CFindState;
struct CMergePlan;
struct CReleaseSide;
class CPackLock;
class CPackReadLock;
struct PackStream;

class CPackFile {
 public:
  // An empty object ready for a build: default header ("pack", 1.1, index at
  // 60, nEntryCount 1), nothing open.
  CPackFile();
  ~CPackFile();
  CPackFile(const CPackFile&) = delete;
  CPackFile& operator=(const CPackFile&) = delete;

  // ---- Open and close --------------------------------------------------

  // Opens a pack for reading and in-place updating: the file is opened for
  // reading and writing (shared with other openers), mapped, and its header,
  // entry index, directory tree and free list are loaded.
  //   strPath  the pack's path.
  // Returns true when everything loaded. Returns false when the file cannot
  // be opened for writing, cannot be mapped, or a region the header declares
  // does not lie inside the file; what loaded before the failure stays until
  // Close(). Of two entries with the same name the first one read is kept.
  // A directory record that does not begin with the root name and a
  // backslash is not placed in the tree. A journal that an interrupted merge
  // left beside the pack (<path>.journal) is applied first, giving back the
  // pack as it was before that merge; Open fails when that cannot be done.
  // Readers see the pack as it was before a merge or as it is after one,
  // never half merged: from Open to Close the pack is held with a shared
  // lock (the byte-range lock a merge takes exclusively) that keeps merges
  // off, so a merge of it, in any process, waits for the Close
  // (CRealizePack::SetLockWait) and fails when it does not come in time;
  // and while a merge or a restore holds the pack, Open fails at once with
  // ERROR_SHARING_VIOLATION, leaving journal and pack alone (it does not
  // wait).
  bool Open(std::string strPath);

  // Opens a pack as Open does, except that a file that may only be read
  // (ERROR_ACCESS_DENIED for writing: a read-only file; ERROR_WRITE_PROTECT:
  // read-only media) is opened for reading. Such a pack can be listed, extracted, streamed and
  // merged from; merging into it or saving it fails with
  // ERROR_ACCESS_DENIED and writes nothing. A journal beside it that cannot
  // be applied still fails the open, since the pack would be half merged.
  bool OpenForReading(const std::string& strPath);

  // True when the open pack is open for reading only.
  bool IsReadOnly() const;

  // Closes the file and its mapping and empties the index, the tree and the
  // free list. Safe after a failed Open and on a closed object.
  void Close();

  // ---- Names and directory tree ------------------------------------------

  // Folds the bytes 'A'-'Z' to 'a'-'z' in place, byte by byte (a trail byte
  // of a double-byte character in that range is folded too; every path meets
  // the same fold, so keys stay consistent).
  //   pszChar  a writable, non-null, non-empty string (asserted).
  static void MakeLower(char* pszChar);

  // Replaces every chFrom in str by chTo. Equal characters change nothing.
  static void ReplaceChar(std::string& str, char chFrom, char chTo);

  // Records a file that a build or a merge adds: creates the keys and kind-1
  // records of its missing directories and appends its kind-0 record.
  //   szFilePath  the file's full path (build) or entry name (merge), taken
  //               relative to the root path, else to the source root's name.
  //   pEntry      the entry being added (not used).
  // Returns 0 (also when the path lies under neither anchor: nothing is
  // recorded), -2 when a directory key on the way is missing, -3 when the
  // final directory key is missing; both happen only without a root key.
  int AddPathToTree(const char* szFilePath, const PackEntry* pEntry);

  // Places one record of a stored directory table into the tree, creating
  // the keys of its parent directories (their records come from the table).
  // Returns 0, or -2 when the record does not begin with the root name and a
  // backslash or a parent key is missing, -3 when its directory key is
  // missing.
  int AddRecordToTree(const PackDirRecord& record);

  // Appends a source path to the build's file list. Null or empty: no-op.
  void AddFile(const char* pszPath);

  // Sets the root name the next build writes. Null or empty: no-op.
  void SetPackName(const char* pszName);

  // ---- Merge (run on the target) -----------------------------------------

  // Takes over every entry of the source whose tag differs from this pack's
  // entry of the same name, or which this pack lacks. Changed entries are
  // overwritten in place when they fit (the rest of the slot becomes a free
  // block), else moved into the first free block that holds them or
  // appended at the end of the data area (the old slot becomes a free
  // block). New entries whose first directory is in this pack's tree join
  // the pack; the others are written as loose files below the current
  // directory, at their path without the root name.
  //   pSrcPack  an opened source pack; its mapping is closed on return.
  // The placement is planned in memory first, then blobs and loose files
  // are written (loose files under a staging name, moved into place once
  // all are written; entries are decoded ahead on one worker per
  // processor, as in MergePack). Returns false at the first entry that
  // cannot be encoded, decoded or written, when the pack would reach 4 GiB,
  // or (writing nothing) when this pack is open for reading only; the file
  // handle is closed then, so no SaveIndex can follow. Not safe against
  // interruption on its own: MergePack journals the whole merge.
  bool MergeFrom(CPackFile* pSrcPack);

  // Writes the index regions behind the data area and then the header,
  // flushes and closes the file. pszTarPack is not used: the save writes
  // through the handle Open left. Returns false when a write fails (the
  // header is then not written) or the pack would reach 4 GiB, with
  // ERROR_ACCESS_DENIED, writing nothing, when it is open for reading only,
  // and with ERROR_INVALID_HANDLE when nothing is open.
  bool SaveIndex(const char* pszTarPack);

  // First fit over the free list, carving from the front of the block.
  //   dwSize     bytes needed.
  //   pdwOffset  receives the offset to write at.
  // Returns 0 when no block holds dwSize (the offset is dwIndexOffset, the
  // end of the data area), 1 when a block became smaller, 2 when a block
  // fitted exactly and left the list.
  int AllocSpace(uint32_t dwSize, uint32_t* pdwOffset);

  // ---- Building (packbuild.cpp, packlist.cpp) ------------------------------

  // Chooses the build root: the lower-cased path anchors entry names, its
  // last component becomes the pack name and the tree's root key, and the
  // current directory is remembered. A path without a backslash only sets
  // the root path.
  //   szPath  non-null, non-empty (asserted).
  void SetRootPath(const char* szPath);

  // Adds a file, or every file below a directory (depth first, in the order
  // the directory search returns names, skipping ".", ".." and ".svn"), to
  // the build's file list. Leaves the current directory at the last
  // directory entered. A path that is neither is ignored.
  //   chSrcDir  non-null (asserted).
  void CollectFiles(const char* chSrcDir);

  // Writes the pack chDesFilePath\<name>.pak from the file list: blobs in
  // list order, then the index in name order, the directory table and the
  // (empty) free list; the file ends there. Then resets the build state.
  //   chSrcFilePath  must hold a backslash; its content is not used.
  //   chDesFilePath  destination directory.
  //   bCompress      store every entry as an Lzma86 stream.
  //   pszOutPath     if non-null, receives the pack's path (zero-filled
  //                  buffer of MAX_PATH bytes).
  //   pszPackName    file name of the pack instead of the pack name, or null.
  //   bDeleteSrc     delete each recorded source file once the pack is
  //                  complete.
  // Returns false when nothing could be written or the build failed part
  // way (a read or write error, a file of 4 GiB or more, a pack that would
  // reach 4 GiB, a pack name longer than 32 bytes, a path too long for its
  // buffer); no source is deleted then. The pack is written into a new
  // file beside it and moved over <name>.pak once complete, so a failed
  // build leaves no new file and an older pack of that name as it was; a
  // <name>.pak that is a directory, read-only, or open elsewhere without
  // delete sharing fails the build. The object's file list and tree stay
  // as they were after a failure. Work files earlier builds of this pack
  // left (<name>.pak.~N, killed say) are removed first, but for one that
  // another build holds open. A journal of an interrupted merge beside
  // <name>.pak is restored first (CPackFile::Open), into the pack it was
  // made for and with the loose files that merge changed, so that it is
  // never applied to the new pack; a restore that fails fails the build.
  // When the move is done but could not be made durable, the build has
  // succeeded (the last error tells the failed sync) and no source is
  // deleted, since a power cut could still take the new pack back.
  bool CreatePack(const char* chSrcFilePath, const char* chDesFilePath, bool bCompress, char* pszOutPath,
                  const char* pszPackName, bool bDeleteSrc);

  // Appends one file to the pack being written (only while CreatePack
  // runs). Returns false when the build must fail: a path of MAX_PATH or
  // more, a file of 4 GiB or more, a read, encode or write error, a pack
  // that would reach 4 GiB. A file that cannot be opened or named, or whose
  // entry name is taken, is skipped with nothing written and returns true.
  // bDeleteSrc is not acted on: CreatePack deletes sources once the pack is
  // complete.
  bool AddFileToPack(const char* szFile, bool bCompress, bool bDeleteSrc);

  // Files left out of every build of this object's file list on purpose:
  // each file whose path below the root (its entry name without the root
  // name, folded) matches one of the globs (packexclude.h: '*', '?', '**';
  // a pattern without a separator matches a name in any directory, one
  // that matches a directory leaves out what lies below it). CreatePack and
  // AddFileToPack skip such a file before opening it, NameBuildFiles gives
  // it BuildFileFate::kExcluded, and the release a file list holds
  // (ReleaseManifest, DiffRelease, CreateUpdatePack) lacks it. Entries of
  // an open pack are never excluded. An empty list, the default, excludes
  // nothing; the list stays until set again.
  void SetBuildExcludes(const std::vector<std::string>& vecPatterns);

  // Content tags: when on, every entry a build writes gets the lower-case
  // hexadecimal MD5 of its plain bytes as its tag (32 characters, the whole
  // field), so that a merge replaces exactly the entries whose content
  // changed. Off by default: tags are all zero.
  void SetContentTags(bool bEnable);

  // Worker threads of a build: CreatePack tags and encodes entries on
  // nWorkers threads while one thread reads the sources and the caller's
  // thread writes the blobs strictly in list order, so the pack is the
  // same byte for byte whatever the count. A few entries (eight per
  // worker, 64 MiB of sources) are in flight at a time. 0, the default, or
  // a negative count: one worker per processor (GetSystemInfo).
  void SetBuildWorkers(int nWorkers);

  // Worker threads of an extraction from a compressed pack (ExtractPath's
  // directory mode, ExtractDir, ExtractFiles): they decode entries ahead
  // while the caller's thread makes the directories and writes the files
  // in order, so the result is the same whatever the count. 0, the
  // default, or a negative count: one per processor. A plain pack is
  // always extracted on the caller's thread.
  void SetExtractWorkers(int nWorkers);

  // Builds a pack of the current directory from the lines of its
  // "ConfigDir.txt" (directories or files relative to it), written into
  // the current directory as <name>.pak. A list with a line longer than
  // 259 characters builds nothing.
  void PackConfigDirs(bool bCompress);

  // Reads "ConfigDir.txt" of the current directory into the list of lines;
  // a list with a line longer than 259 characters adds nothing.
  void ReadConfigDir();

  // Reads a file list: the first line ending in CR LF names the root (while
  // no pack name is set), every other line a file to add.
  //   pszConfigFile  non-null, non-empty (asserted).
  // Returns false, changing nothing, when the list cannot be read or a line
  // is longer than 259 characters.
  bool ReadFileList(const char* pszConfigFile);

  // ---- Extraction (packextract.cpp) ---------------------------------------

  // Extracts what a path names. The path is folded to lower case and taken
  // from the first occurrence of the root name (also inside a longer
  // component: C:\fresh\res\a.txt gives resh\res\a.txt); call it D.
  //   pchPackPath    a path containing the root name, shorter than MAX_PATH
  //                  (at most its first 256 characters are looked at).
  //   nExtractMode   1: the pack directory D as a tree: a directory named
  //                  after D's last component is made (or reused) in the
  //                  current directory S and the subtree goes below it, so
  //                  the root gives S\root\... and root\ui gives S\ui\...
  //                  The current directory is changed and left changed.
  //                  Nothing is made or written outside S: a record whose
  //                  last component is not a safe file name (empty, ".",
  //                  "..", ":" or "/", control bytes, trailing dot or
  //                  space, a device name) is skipped with everything below
  //                  it, and so is one whose path would reach MAX_PATH.
  //                  Else: the entry named exactly D, written to
  //                  pchSinglefile as ExtractFile does.
  //   pchSinglefile  the output file in single-file mode (non-empty in both
  //                  modes, asserted; shorter than MAX_PATH).
  // Returns 1 when the single file was written, or in directory mode when D
  // is a pack directory and its tree was walked (single entries may still
  // have failed); 0 otherwise, with the last error set and nothing created:
  // the root name is not in the path or D names no directory (a file or a
  // path ending in a backslash; ERROR_PATH_NOT_FOUND), a path is MAX_PATH or
  // longer (ERROR_FILENAME_EXCED_RANGE), or its top directory cannot be
  // made.
  int ExtractPath(const char* pchPackPath, int nExtractMode, const char* pchSinglefile);

  // Writes the children of the pack directory szDir into the existing disk
  // directory <extraction directory>\szDir, recursively, by the same rules
  // as ExtractPath's directory mode. Does nothing when no ExtractPath has
  // set the extraction directory, szDir is not a key of the tree or not a
  // safe path, or that disk directory does not exist. Returns 1.
  int ExtractDir(const char* szDir);

  // Writes the entry named exactly pszName to pszOutFile (replacing it,
  // unshared while written, in one write). Returns 1 when written; 0, with
  // the last error set, when the name is unknown (ERROR_FILE_NOT_FOUND), the
  // entry cannot be read or decoded (no file is created then), the file
  // cannot be created, or the write fails (the file is removed).
  int ExtractFile(const char* pszName, const char* pszOutFile);

  // One file of ExtractFiles, and the report after each (packrequest.h).
  using ExtractRequest = CExtractRequest;
  using ExtractNotify = ::ExtractNotify;

  // Writes each requested entry to its file as ExtractFile does, strictly
  // in list order. From a compressed pack the entries are decoded ahead on
  // worker threads (SetExtractWorkers), 64 MiB of plain bytes at most in
  // flight; from a plain pack each is written straight from its view.
  //   vecRequests  the entries and their files; output directories must
  //                exist.
  //   fnNotify     may be empty.
  void ExtractFiles(const std::vector<ExtractRequest>& vecRequests, const ExtractNotify& fnNotify);

  // Writes every entry, in name order, to the same file.
  void ExtractAll(const char* pszOutFile);

  // ---- Directory enumeration (packfind.cpp) -------------------------------

  // Starts listing the pack directory root\pszFindPath with a pattern:
  // "*.*" files (name only), "*" files and directories (full path), "."
  // directories (full path), "*.ext" files with that extension (name only).
  // Returns the first match, or null (a missing directory changes nothing).
  PackDirRecord* FindFirst(const char* pszFindPath, const char* pszFindType);

  // The next match of the running enumeration, or null at its end.
  PackDirRecord* FindNext();

  // ---- Entry streams (packstream.cpp) -------------------------------------

  // Opens an entry as an in-memory stream: the root name is inserted after
  // the path's first component, so x/ui/a.txt opens root\ui\a.txt.
  // Returns a stream holding a private copy of the entry's plain bytes,
  // which the caller releases with StreamClose, or null with the last error
  // set: ERROR_FILE_NOT_FOUND for a path that names no entry,
  // ERROR_INVALID_DATA for an entry that cannot be decoded (the system's
  // error when it cannot be read), ERROR_FILENAME_EXCED_RANGE for a path of
  // MAX_PATH or more, ERROR_INVALID_HANDLE when no pack is open.
  PackStream* StreamOpen(const char* pszFilePath);

  // Copies up to byteCount bytes from the stream's position and advances
  // it. dwUnused is not used. Returns the bytes copied (0 at the end or
  // for a null stream).
  static uint32_t StreamRead(void* buffer, uint32_t byteCount, uint32_t dwUnused, PackStream* stream);

  // Moves the position: origin 0 or 1 to offset (1 is not relative), 2 to
  // the end. Returns 0, or -1 for a null stream, an offset past the end
  // (tested first, whatever the origin) or another origin.
  static int StreamSeek(PackStream* stream, uint32_t offset, int32_t origin);

  // The position, or 0 for a null stream.
  static uint32_t StreamTell(PackStream* stream);

  // Frees the stream and its bytes; null is allowed.
  static void StreamClose(PackStream* stream);

  // ---- Releases and updates (packrelease.cpp, packlist.cpp) ---------------
  //
  // A release is either an open pack or a build's file list below its root
  // (SetRootPath and CollectFiles, ReadFileList, CollectConfigDirs).

  // How a build of the file list, as it stands, would take each file, in
  // list order (packbuildnames.h): by the build's own naming and its "first
  // file of a name wins" rule, opening each file once to see that it opens
  // but reading nothing. Call it in the current directory the build will
  // run in (relative paths are taken from there).
  std::vector<CBuildFileName> NameBuildFiles() const;

  // Sets up the build PackConfigDirs runs, without building: the current
  // directory becomes the root and the work directory, and the files of
  // the lines of its "ConfigDir.txt" form the file list (the current
  // directory is left at the last directory the walk entered). Returns
  // false, with the last error set, when nothing is to be built: the
  // current directory does not fit a path buffer or has no parent, or a
  // line of the list is longer than 259 characters
  // (ERROR_FILENAME_EXCED_RANGE). CreatePack(WorkDirectory(), WorkDirectory(), ...) then
  // builds what PackConfigDirs builds.
  bool CollectConfigDirs();

  // The directory a build set up by CollectConfigDirs works in (lower case).
  std::string WorkDirectory() const;

  // The root name of the release this object holds: the open pack's, or
  // the one the next build of the file list writes.
  std::string ReleaseRoot() const;

  // The release this object holds (packmanifest.h): every entry's name,
  // plain size and MD5 (decoded from a compressed pack), or those of every
  // file a build of the file list would take, hashed on SetBuildWorkers
  // threads.
  //   bTrustTags  take an entry's stored tag, when it has the form of a
  //               content tag, as its MD5 instead of reading the entry (the
  //               index alone then tells a pack built or updated with tags).
  //   setRehash   entries read and hashed even when bTrustTags.
  //   mapRelease  receives the manifest.
  //   strFailed   receives the name of the entry or file that failed.
  // Returns false, with the last error set, when an entry or file cannot
  // be read or decoded, or is 4 GiB or larger. Reads only.
  bool ReleaseManifest(bool bTrustTags, ContentTagMap& mapRelease, std::string& strFailed,
                       const std::set<std::string>& setRehash = {}) const;

  // Compares this release (the old one) with newer by content: the MD5 of
  // every entry's plain bytes (decoded from a compressed pack) and of every
  // file a build would take, hashed on SetBuildWorkers threads.
  //   newer       the new release; its root name must equal this one's.
  //   bTrustTags  take an entry's stored tag of this release, when it has
  //               the form of a content tag, instead of hashing the entry.
  //   diff        receives every name of either release, in name order.
  //   strFailed   receives the name of the entry or file that failed.
  // Returns false, with the last error set, when the roots differ
  // (ERROR_INVALID_NAME), or an entry or file cannot be read or decoded,
  // or is 4 GiB or larger. Reads only.
  bool DiffRelease(const CPackFile& newer, bool bTrustTags, CReleaseDiff& diff, std::string& strFailed) const;

  // Writes the update pack of a diff from its new release: the changed and
  // added entries of newer, in name order, with their names there, tagged
  // with content tags, into chDesFilePath\<pszPackName or the root
  // name>.pak, as CreatePack writes (a new file moved into place when
  // complete, on SetBuildWorkers threads, the same bytes for any count).
  // Entries of a pack are read from it, decoded and encoded again, never
  // extracted to disk, so a pack and the tree it came from give the same
  // update. Call it on an object that holds no open pack and no build;
  // afterwards it is reset as after CreatePack.
  //   newer  the release diff was made with, as it was then.
  // A diff that only removes entries gives a pack without entries (its
  // statement carries the removals).
  // Returns false, with the last error set, as CreatePack does, and with
  // ERROR_INVALID_PARAMETER, writing nothing, when the releases do not
  // differ or the diff names an entry newer lacks.
  bool CreateUpdatePack(const CPackFile& newer, const CReleaseDiff& diff, const char* chDesFilePath, bool bCompress,
                        char* pszOutPath, const char* pszPackName);

  // ---- Delta updates (packdeltamake.cpp) -----------------------------------

  // The plain bytes of an entry of the release this object holds: of the
  // open pack's entry strName, or of the file strFile (a build's file list).
  // Returns false, with the last error set, when the entry is not there
  // (ERROR_FILE_NOT_FOUND) or cannot be read or decoded. Thread-safe.
  bool ReadReleaseBytes(const std::string& strName, const std::string& strFile, CEntryBytes& out) const;

  // Writes the delta update (packdelta.h) of a diff made from this release
  // (the old one) to newer, at strPath: every changed and added entry of
  // newer, in name order; a changed entry as a patch against this release's
  // entry when the patch is smaller than three quarters of its whole form
  // (its Lzma86 stream when bCompress, else its plain bytes), else whole in
  // that form. Read, encoded and patched on SetBuildWorkers threads; written
  // into a new file moved over strPath when complete. report counts what
  // went how.
  //   newer  the release diff was made with, as it was then.
  // Returns false, with the last error set and report.strFailed naming the
  // entry when one failed, when an entry cannot be read or encoded, the
  // delta would reach 4 GiB (ERROR_FILE_TOO_LARGE), or the file cannot be
  // written; no file is left at strPath then (an older one stays).
  bool CreateDeltaUpdate(const CPackFile& newer, const CReleaseDiff& diff, const std::string& strPath, bool bCompress,
                         CDeltaReport& report) const;

  // Rebuilds the update a delta was made from (packdelta.h), on an object
  // that holds no open pack and no build: the plain update 'paktool diff'
  // writes for the same releases without -z, byte for byte, written as
  // CreatePack writes (chDesFilePath\<pszPackName or the root name>.pak, a
  // new file moved into place when complete, on SetBuildWorkers threads).
  // Each whole entry is decoded, each patch applied to client's entry of
  // the same name, and every entry's bytes checked against the MD5 the
  // delta records for it; a patch's base must have the recorded size and
  // MD5.
  //   pbyDelta, qwDeltaSize  the delta's bytes (a view of its file, or a
  //                          copy).
  //   client                 the client pack the delta was made for, open.
  // Returns false, with the last error set and outcome telling why and
  // which entry, writing nothing: the delta breaks its rules or an entry
  // does not give its recorded bytes (kDamaged, ERROR_INVALID_DATA), a base
  // entry is missing or not the recorded one (kBase, ERROR_INVALID_DATA),
  // or the system failed (kSystem).
  bool RebuildDeltaUpdate(const unsigned char* pbyDelta, uint64_t qwDeltaSize, const CPackFile& client,
                          const char* chDesFilePath, const char* pszPackName, CDeltaOutcome& outcome);

  // ---- Holes (packcompact.cpp) -------------------------------------------

  // The bytes of the data area that no entry of the loaded index covers:
  // slots that merges freed and no later entry took, and the tails of
  // entries that shrank in place, listed in the free list or not. 0 for a
  // freshly built or compacted pack and when nothing is open.
  uint64_t GetHoleBytes() const;

  // GetHoleBytes() as a share of the pack's size, from 0 to 1; the size is
  // where the loaded regions end (header, data area, index, directory table
  // and free list), which is the file's size for a sound pack. 0 when
  // nothing is open.
  double GetHoleShare() const;

  // ---- Accessors ---------------------------------------------------------

  PackEntryMap* GetEntryMap();
  PackHeader* GetHeader();
  char* GetRootName();
  const PackDirMap& GetDirMap() const;
  const std::vector<PackFreeBlock>& GetFreeBlocks() const;

 private:
  // The facade of a merge works on both packs' members.
  friend class CRealizePack;

  // The enumeration members, by reference.
  CFindState FindState();
  void ResetFindState();
  // How OpenPack opens the file: for reading and writing; so, or for reading
  // when writing is denied; for reading only, with writers kept out; as a
  // merge's update: for reading only, shared with readers and writers, and
  // without applying a journal beside it (only a client pack is ever
  // restored); for reading and writing as the target of a merge that holds
  // the pack's merge lock (no journal is looked for, no readers' lock
  // taken).
  enum class OpenMode { kReadWrite, kReadWriteOrRead, kReadDenyWriters, kUpdate, kMergeTarget };
  bool OpenPack(const std::string& strPath, OpenMode eMode);
  bool OpenFile(const std::string& strPath, OpenMode eMode);
  bool OpenHandle(const std::string& strPath, OpenMode eMode);
  bool TakeReadLock();
  // Opens the pack in an open file (a private copy) for reading only, taking
  // the handle over; no journal is looked for, the file having no name.
  bool OpenPackHandle(CScopedHandle hFile);
  bool LoadOpenFile();
  // Lets go of the readers' lock and closes the file; keeps the last error.
  void CloseFile();
  bool LoadRegions(uint64_t qwFileSize);
  void LoadEntries(const unsigned char* pbyIndex, int32_t nCount);
  void LoadDirRecords(const unsigned char* pbyDirs, uint64_t qwCount);

  // The build of this object's file list, by its settings.
  CPackBuilder Builder(bool bCompress);

  // What an extraction of the open pack reads.
  CExtractSource ExtractSource() const;

  // Reads entries of the open pack.
  CEntryReader Reader() const;

  // Plans a merge of source into this pack and takes the plan over into the
  // index, tree, free list and header in memory; writes nothing. Entries
  // are encoded for their sizes on nWorkers threads (0: one per processor).
  bool PlanMergeFrom(const CPackFile& source, CMergePlan& plan, int nWorkers);
  // The regions behind the data area as they are in memory.
  CIndexRegions Regions() const;

  // Releases and updates: the settings a build of this object runs with,
  // the root name of the release it holds, and the build of a source into
  // chDesFilePath as CreatePack does it.
  CBuildSettings BuildSettings(bool bCompress) const;
  bool IsOpenPack() const;
  bool TagRelease(bool bTrustTags, const std::set<std::string>& setRehash, CReleaseSide& side,
                  std::string& strFailed) const;
  bool BuildInto(CPackBuilder& builder, const CBuildSource& source, const std::string& strPackName,
                 const char* chDesFilePath, char* pszOutPath, const char* pszPackName, bool bDeleteSrc);

  PackFreeList m_vecFreeBlock;

  // Directory enumeration.
  PackDirRecord m_findResult;
  char m_szFindFilter[32];
  int32_t m_nFindMode;
  std::vector<PackDirRecord> m_vecFindList;
  std::vector<PackDirRecord>::const_iterator m_itFind;
  PackDirMap m_mapFindDir;

  // Building.
  CScopedHandle m_hBuildFile;
  PackHeader m_header;
  int32_t m_nAddedCount;
  std::vector<std::string> m_vecFileList;
  char m_szWorkDir[MAX_PATH];
  char m_szSrcRoot[MAX_PATH];
  std::vector<std::string> m_vecConfigDir;
  bool m_bContentTags = false;
  std::vector<std::string> m_vecExcludes;  // SetBuildExcludes
  int32_t m_nBuildWorkers = 0;             // 0: one per processor
  int32_t m_nExtractWorkers = 0;           // 0: one per processor

  // Opened pack.
  int32_t m_nMode;  // 0 constructed (building), 2 opened from a file
  uint8_t m_byCompressed;
  bool m_bReadOnly = false;
  uint32_t m_dwAllocGranularity;
  CScopedHandle m_hFileMapping;
  PackEntryMap m_mapEntry;
  PackDirMap m_mapDir;
  std::string m_strRootPath;
  std::string m_strRootDir;  // building: files below it are named relative to it
  std::string m_strPackName;
  std::string m_strExtractDir;
  CScopedHandle m_hPackFile;
  std::unique_ptr<CPackReadLock> m_pReadLock;  // after m_hPackFile: released before it closes
  LARGE_INTEGER m_liFilePos;
  PackEntryList m_vecNewEntry;  // added by a merge
};

// Owns the source (update) and target (client) packs of a merge.
class CRealizePack {
 public:
  CRealizePack();
  ~CRealizePack();
  CRealizePack(const CRealizePack&) = delete;
  CRealizePack& operator=(const CRealizePack&) = delete;

  // Merges an update pack into a client pack: opens both, checks them,
  // lets the client take over the update's changed and new entries
  // (CPackFile::MergeFrom), saves the client's index (SaveIndex) and closes
  // both.
  //   pszSrcPack  the update pack; pszTarPack  the client pack. Both
  //               non-null and non-empty (asserted).
  // All or nothing, loose files included: before its first write the merge
  // saves every byte of the client it will overwrite, and every file beside
  // it that it will write or delete (a player's own file of a loose file's
  // name, say), in a journal beside the client (<client>.journal). Loose
  // files are staged beside their places, complete and flushed, and moved
  // into place only once the merged pack is flushed; then the journal is
  // removed: the removal is the commit and is synced to disk before
  // MergePack returns. Interrupted at any point (a killed process, a power
  // cut), the next Open of the client gives back the old pack and every
  // loose file as it was, staged files and new directories removed;
  // otherwise the pack and every loose file are the merged ones, and stay
  // so through a power cut after MergePack returned 1. A compacted pack
  // that an interrupted CompactPack left beside the client
  // (<client>.compact.new) is removed.
  // The update is opened for reading only and taken as it is: a journal
  // beside it (<update>.journal) is never applied, only a client's is.
  // Returns 1 when everything was merged and saved. Returns 0, with the
  // last error set and the client exactly as it was, when the update does
  // not open (an update that may only be read is fine); when the client
  // does not open completely, or a check fails (an update blob outside its
  // data area, an unsafe name, a loose file that would land on either pack,
  // its journal, its compacted pack or its record of loose files, on a file
  // of the updater in the loose files' directory (version.ver,
  // Patchloom.exe or Patchloom, Veshmarkland.exe, Grumvel.exe; any letter
  // case), or need a path of MAX_PATH or more,
  // a client whose blobs overlap, a new entry below a file or named like a
  // directory of the tree); when the client would reach 4 GiB or its
  // journal cannot be written; when another merge or a compaction of the
  // client runs (ERROR_SHARING_VIOLATION: one writer of a pack at a time,
  // whatever process runs it), or a reader holds the client longer than the
  // merge waits (SetLockWait); or when an entry cannot be decoded, a write
  // fails, or a loose file cannot be put in place durably (the merge is
  // rolled back, loose files too). Once the journal is removed the merge
  // has happened: when that removal could not be made durable, MergePack
  // returns 1 all the same, with the sync's error as the last error
  // (ERROR_SUCCESS otherwise).
  int MergePack(const char* pszSrcPack, const char* pszTarPack);

  // Merges a release update: as MergePack, and besides it removes the
  // entries removals names (or, for a full update, every entry the update
  // lacks), in the same all-or-nothing step: their slots become free
  // blocks, their directory records go with every directory left empty,
  // and the journal covers it. It keeps the client's record of loose files
  // (packloose.h): a removed entry held as a loose file is deleted, and the
  // record then names every loose file the client holds, those this merge
  // wrote included; both in the commit, under the journal, so that they
  // are old or new with the pack. MergePack neither removes nor records.
  // Returns what MergePack returns; 0 also, writing nothing, when the
  // client's record of loose files is damaged or an entry is both brought
  // and removed (ERROR_INVALID_DATA, GetMergeRefusal() says which), and 0
  // with the client as it was when a removed loose file cannot be deleted
  // or the record cannot be written.
  int MergeUpdate(const char* pszSrcPack, const char* pszTarPack, const CUpdateRemovals& removals);

  // Merges a delta update (packdelta.h) as MergeUpdate merges the update it
  // was made from: rebuilds that update against the client
  // (CPackFile::RebuildDeltaUpdate) into <client>.rebuilt.pak beside it,
  // copies it privately (CopyHeldUpdate) and deletes the file, checks that
  // the copy's entries are exactly the delta's records (names, sizes, tags
  // and the MD5 of their bytes), and merges the copy with the removals; a
  // leftover of an interrupted run is deleted first.
  //   pbyDelta, qwDeltaSize  the delta's bytes.
  //   pszTarPack             the client pack; non-null, non-empty (asserted).
  // Returns what MergeUpdate returns; 0 also, with outcome telling why and
  // the client as it was, when the delta cannot be rebuilt against this
  // client (kBase: an entry a patch applies to is not its recorded base) or
  // the rebuilt update is not what the delta says (ERROR_INVALID_DATA,
  // kDamaged).
  int MergeDeltaUpdate(const unsigned char* pbyDelta, uint64_t qwDeltaSize, const char* pszTarPack,
                       const CUpdateRemovals& removals, CDeltaOutcome& outcome);
  // The rebuild of MergeDeltaUpdate alone, from the delta held in a private
  // copy (CopyHeldUpdate): the keyed updater's step between checking a
  // signed delta and stopping the client, so that a client the delta
  // cannot be applied to is refused with nothing stopped. The client is
  // only read. On success the checked copy of the rebuilt update is held in
  // the delta's place, for MergeHeldUpdate; on failure nothing is held,
  // outcome says why (kSystem: the last error, ERROR_INVALID_HANDLE when no
  // complete copy was held).
  bool RebuildHeldDelta(const char* pszTarPack, CDeltaOutcome& outcome);

  // The names of the entries the last merge wrote into the client pack or
  // as loose files (changed and new ones), once it returned 1; empty
  // otherwise. A check of the client's release afterwards reads these
  // instead of trusting their tags.
  const std::set<std::string>& GetMergedNames() const;

  // Why the last MergePack failed, in words, when the update or the client
  // was at fault: the rule and the entry that broke it (an unsafe name, a
  // blob outside the update's data area, a loose file that would land on a
  // pack, a new entry below a file, a damaged client, an entry that does not
  // decode, ...; names in code page 936). Empty after a merge that worked or
  // that failed for a reason of the system (the last error tells it then).
  const std::string& GetMergeRefusal() const;

  // ---- A merge of an update that was checked first --------------------------
  // For a caller that checks the update (its signature, say) before it
  // merges it, with time between. HoldUpdate opens the update file and
  // parses nothing of it; CopyHeldUpdate copies exactly as many of its
  // bytes as the caller names into a private copy (platform/private_copy.h)
  // and hands each piece, as written there, to the caller (for a digest);
  // MergeHeldUpdate opens that copy as a pack and merges it. So what the
  // caller saw is what is merged, byte for byte: a change to the update
  // file after the copy, written in place by any process or moved over its
  // name, changes nothing that is merged.

  // Opens the update file and holds it, for reading and shared with
  // readers only: on Windows no writer gets in while it is held (a second
  // wall besides the copy); on POSIX that is a record other programs may
  // ignore, which the copy makes harmless. Reads nothing of the file and
  // applies no journal. Closes both packs and drops an earlier copy first.
  // Returns false, with the last error set, when the file does not open.
  bool HoldUpdate(const char* pszSrcPack);

  // The held update file's size now, from its handle. False, with the last
  // error set, when nothing is held (ERROR_INVALID_HANDLE) or the size
  // cannot be read.
  bool GetHeldUpdateSize(uint64_t& qwSize) const;

  // Copies the first qwSize bytes of the held update file into a new
  // private copy (CreatePrivateCopy in pszCopyDir: in memory up to
  // kPrivateCopyMemoryLimit on Linux, else a file no other process can
  // reach) and hands them to fnSink in file order, in pieces of at most 1
  // MiB, each after it was written to the copy; the copy is sealed
  // (SealPrivateCopy) once complete. Memory: the piece, and the copy when
  // it lives in memory.
  // Returns false, with the last error set and no copy kept, when no update
  // is held (ERROR_INVALID_HANDLE), the file ends before qwSize bytes
  // (ERROR_HANDLE_EOF), the copy cannot be made, a read or write fails, or
  // fnSink returns false.
  bool CopyHeldUpdate(uint64_t qwSize, const char* pszCopyDir,
                      const std::function<bool(const unsigned char* pbyData, size_t nSize)>& fnSink);

  // Where the last complete copy lives.
  PrivateCopyKind GetHeldCopyKind() const;

  // Opens the private copy as a pack (read only, no journal looked for) and
  // merges it into the client pack pszTarPack exactly as MergePack merges an
  // update (its loose files checked against the held update's path), and
  // closes both packs, the copy and the held file; nothing is held
  // afterwards.
  //   pszTarPack  non-null, non-empty (asserted).
  // Returns what MergePack returns; 0 with ERROR_INVALID_HANDLE when no
  // complete copy is held.
  int MergeHeldUpdate(const char* pszTarPack);
  // The same for a release update, as MergeUpdate merges it.
  int MergeHeldUpdate(const char* pszTarPack, const CUpdateRemovals& removals);

  // Puts back a pack, and the files beside it, as a merge that was
  // interrupted found them (its journal restored), as every open of the
  // pack does first, without opening it: for a caller that may refuse to
  // go on before it opens the pack, and must not leave it torn.
  //   pszPack  the pack; non-null and non-empty (asserted).
  // Returns true when nothing is left to undo (there was no journal, or no
  // pack); false with the last error set when the restore failed (the
  // journal stays for the next try), ERROR_SHARING_VIOLATION while a merge
  // of the pack runs or a reader holds it.
  bool RecoverPack(const char* pszPack);
  // Closes the held update file and drops its copy, if any.
  void ReleaseHeldUpdate();

  // ---- Dry run (packpreview.cpp) -------------------------------------------

  // What MergePack(pszSrcPack, pszTarPack) would do, writing nothing: opens
  // both packs as MergePack does (the client for reading and writing, so a
  // client MergePack cannot open fails here too; an interrupted merge's
  // journal is applied first, as every open does), runs the same checks
  // and the same plan, and hands the plan back (packpreview.h).
  // Returns 1 with preview filled. Returns 0 with the last error set and
  // GetMergeRefusal() telling why, as MergePack would fail before its
  // first write: the update or the client does not open, a check refuses,
  // the client would reach 4 GiB, an entry cannot be encoded for a
  // compressed client.
  // With removals, what MergeUpdate would do, the removals included.
  int PreviewMerge(const char* pszSrcPack, const char* pszTarPack, CMergePreview& preview,
                   const CUpdateRemovals* pRemovals = nullptr);

  // ---- Compaction (packcompact.cpp) --------------------------------------

  // Rewrites a pack without holes: every entry's stored bytes copied as they
  // are (no decoding or encoding; sizes, tags, the compression flag and the
  // root name kept), in the order they lie in the data area, back to back
  // from offset 60; behind them the index in name order, the directory tree
  // as loaded and an empty free list, where the file ends. A freshly built
  // pack comes out byte for byte as it was. The rewrite is done whenever it
  // is asked for: callers that want it only for a pack with holes ask
  // CPackFile::GetHoleShare first (paktool compact --if-holes, the updater).
  //   pszPack  the pack; non-null and non-empty (asserted).
  // Safe against interruption: a journal that an interrupted merge left is
  // restored first, as Open does; the compacted pack is written beside the
  // pack as <pack>.compact.new, flushed and moved over the pack with
  // write-through (platform/durable_replace.h), so at any moment the pack
  // is the old one or the compacted one. A <pack>.compact.new that an
  // interrupted compaction left is removed by the next compaction or merge.
  // While it runs the pack is open for reading and shared with readers
  // only: a merge cannot open it, and a pack that a merge or another writer
  // holds open is not compacted (ERROR_SHARING_VIOLATION). Memory: the
  // index, a copy buffer of 4 MiB where the system cannot copy between
  // files by itself (CopyFileBytes), and VerifyPack's decoding of one entry
  // at a time for a compressed pack.
  // Returns true when the compacted pack replaced the pack. Returns false,
  // with the last error set and the pack as it was, when the pack does not
  // open; when VerifyPack finds a problem (ERROR_INVALID_DATA) or the index
  // does not load completely; when the free space of its volume is less
  // than the compacted pack's size (ERROR_DISK_FULL; nothing is written);
  // or when a read, a write, the flush or the move fails (the new file is
  // removed).
  bool CompactPack(const char* pszPack);

  // Why the last CompactPack failed, in words, when the pack or the disk was
  // at fault: the pack's first problem as VerifyPack words it (names in code
  // page 936), or the free space the compacted pack needs. Empty after a
  // compaction that worked or that failed for another reason of the system
  // (the last error tells it then).
  const std::string& GetCompactRefusal() const;
  // ---- Merge workers ---------------------------------------------------------

  // Worker threads of MergePack: they decode the update's entries (and, into
  // a compressed client, encode them) ahead of the writer, which writes
  // them strictly in the plan's order, so the client, the loose files, the
  // journal and every write and flush are the same whatever the count. At
  // most eight entries per worker and 64 MiB of their plain bytes are in
  // flight (a larger entry still goes through, alone). 0, the default, or a
  // negative count: one per processor. One worker, or a plain update into a
  // plain client, runs on the caller's thread.
  void SetMergeWorkers(int nWorkers);

  // How long a merge (MergePack, MergeUpdate, MergeHeldUpdate, PreviewMerge)
  // waits for the readers of the client pack to close it: every open of a
  // pack for reading holds a shared lock that keeps merges off (see
  // CPackFile::Open). The merge tries again every 50 ms; once the time is
  // up it fails with ERROR_SHARING_VIOLATION, having written nothing.
  // 5000 ms by default; 0 tries once.
  void SetLockWait(DWORD dwMilliseconds);

 private:
  // Closes both packs and drops a held update before a new update: false
  // with ERROR_INVALID_PARAMETER for a null or empty path.
  bool StartUpdate(const char* pszSrcPack);
  bool OpenUpdate(const char* pszSrcPack);
  // Opens the held copy as the source pack; false with the last error set.
  bool OpenHeldCopy();
  // Rebuilds a delta into a checked private copy, opened as the held update.
  bool RebuildAndHold(const unsigned char* pbyDelta, uint64_t qwDeltaSize, const char* pszTarPack,
                      CDeltaOutcome& outcome);
  // Takes the client's merge lock, opens the client (an interrupted
  // merge's journal applied first), checks both packs and plans the merge
  // of the open update into the client's index in memory: a merge's steps
  // before its journal.
  bool PlanHeld(const char* pszSrcPack, const char* pszTarPack, CPackLock& lock, CMergePlan& plan,
                CRemovalPlan* pRemoval = nullptr, const CUpdateRemovals* pRemovals = nullptr);
  int MergeHeld(const char* pszTarPack, const CUpdateRemovals* pRemovals);
  // A release update's removals (packupdate.cpp): taken out of the open
  // client's index before the plan.
  bool TakeRemovals(const char* pszTarPack, const CUpdateRemovals& removals, CRemovalPlan& removal);
  // True when the held update holds exactly the delta's records' entries.
  bool HeldUpdateIs(const CDeltaIndex& index);

  std::unique_ptr<CPackFile> m_pSrcPack;
  std::unique_ptr<CPackFile> m_pTarPack;
  std::string m_strRefusal;
  std::set<std::string> m_setMerged;
  std::string m_strHeldUpdate;  // the update's path while held or open as the source; "" when none
  CScopedHandle m_hHeldFile;    // the held update file (HoldUpdate)
  CScopedHandle m_hHeldCopy;    // its complete private copy (CopyHeldUpdate)
  PrivateCopyKind m_eCopyKind = PrivateCopyKind::kMemory;
  bool m_bHeldCopyOpen = false;  // the held copy is open as m_pSrcPack (a rebuilt delta)
  std::string m_strCompactRefusal;
  int32_t m_nMergeWorkers = 0;  // 0: one per processor
  DWORD m_dwLockWait = 5000;
};

// The program's one facade, alive from before main to normal exit.
extern CRealizePack g_realizePack;
