// The undo journal that makes a merge all-or-nothing: before the merge
// overwrites a byte of the pack or changes a file beside it, the old bytes
// lie on disk in the journal, so an interrupted merge can be undone. See
// packjournal.cpp for the method and the file layout.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "tools/filepacktools_lib/packlock.h"
#include "tools/filepacktools_lib/packrecords.h"

// A stretch of a pack that a merge will write.
struct CWriteRange {
  uint64_t qwOffset;
  uint64_t qwLength;
};

// What a merge may change beside the pack, by absolute paths: files it
// writes or deletes (loose files, the record of loose files), whose present
// contents (or absence) the journal saves, and directories it may create,
// each after its parent, which a restore removes again when they are empty.
// A listed file's new contents are staged under StagedPath (packstage.h),
// which a restore removes.
struct CJournalFiles {
  std::vector<std::string> vecFiles;
  std::vector<std::string> vecDirectories;
};

// <pack>.journal: the journal while a merge runs. <pack>.journal.new: the
// journal being written; never trusted, since it may be incomplete.
std::string JournalPath(const std::string& strPackPath);
std::string JournalTempPath(const std::string& strPackPath);

// Saves the undo journal of a merge of the pack strPackPath, open as hPack:
// the pack's identity (the file it is, platform/file_identity.h), its size,
// its header, the header and the size the merge will leave, the present
// bytes of every range (clipped to the file; ranges may overlap and come in
// any order), and what files lists. Written under the temporary name,
// flushed, then renamed into place, so it exists under its final name only
// when complete. The pack and the files are only read. Returns false, with
// the last error set and no journal left, when it cannot be saved (the
// merge must not start then): ERROR_DIRECTORY when a listed file is a
// directory, the error of reading a listed file, or of writing.
bool WriteJournal(const std::string& strPackPath, HANDLE hPack, const PackHeader& newHeader, uint64_t qwNewSize,
                  const std::vector<CWriteRange>& vecRanges, const CJournalFiles& files);

// Puts back the pack, and the files beside it, that a journal beside
// strPackPath describes, if there is one: the saved bytes, the size and the
// header, flushed; each listed file's saved contents (or its absence),
// durably; staged files and created directories removed; then the journal
// is removed. A journal that is damaged, or that does not belong to the
// pack (another file now has its name, its size is one the merge cannot
// have left, or its header is neither the saved one nor the one the merge
// was writing; or there is no pack), is removed without touching anything.
// Returns true when there is nothing left to undo; false, with the last
// error set and the journal kept for the next try, when the pack or a file
// could not be restored.
// A journal, or one being written, is touched only under the pack's merge
// lock (packlock.h): while a merge of the pack runs, or a reader holds it,
// this fails with ERROR_SHARING_VIOLATION and leaves everything as it is.
// (A pack that cannot be opened for writing has no merge running and is
// handled without the lock.)
bool RestoreFromJournal(const std::string& strPackPath);
// The same for a caller that holds the pack's merge lock.
bool RestoreFromJournal(const std::string& strPackPath, const CPackLock& held);

// Removes the journal once the merged pack is flushed, and syncs its
// directory so that the removal survives a power cut: the merge's commit.
// True once the file is gone, with the last error set when its removal
// could not be made durable (a power cut may then bring it back, and the
// next open undo the merge); false when the file stays.
bool RemoveJournal(const std::string& strPackPath);

// True when a journal lies beside the pack: a merge of it was interrupted
// and the next open restores the pack it describes.
bool HasJournal(const std::string& strPackPath);
