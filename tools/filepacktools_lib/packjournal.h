// The undo journal that makes a merge all-or-nothing: before the merge
// overwrites a byte of the pack, the old bytes it will overwrite lie on disk
// beside it, so an interrupted merge can be undone. See packjournal.cpp for
// the method and the file layout.
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

// <pack>.journal: the journal while a merge runs. <pack>.journal.new: the
// journal being written; never trusted, since it may be incomplete.
std::string JournalPath(const std::string& strPackPath);
std::string JournalTempPath(const std::string& strPackPath);

// Saves the undo journal of a merge of the pack strPackPath, open as hPack:
// the pack's size, its header, the header the merge will write, and the
// present bytes of every range (clipped to the file; ranges may overlap and
// come in any order). Written under the temporary name, flushed, then
// renamed into place, so it exists under its final name only when complete.
// The pack is only read. Returns false, with the last error set and no
// journal left, when it cannot be saved (the merge must not start then).
bool WriteJournal(const std::string& strPackPath, HANDLE hPack, const PackHeader& newHeader,
                  const std::vector<CWriteRange>& vecRanges);

// Puts back the pack that a journal beside strPackPath describes, if there
// is one: the saved bytes, the size and the header, flushed, then the
// journal is removed. A journal that is damaged, or that does not belong to
// the pack (its header is neither the saved one nor the one the merge was
// writing), is removed without touching the pack. Returns true when there
// is nothing left to undo; false, with the last error set and the journal
// kept for the next try, when the pack could not be restored.
// A journal, or one being written, is touched only under the pack's merge
// lock (packlock.h): while a merge of the pack runs, this fails with
// ERROR_SHARING_VIOLATION and leaves everything as it is. (A pack that
// cannot be opened for writing has no merge running and is handled without
// the lock.)
bool RestoreFromJournal(const std::string& strPackPath);
// The same for a caller that holds the pack's merge lock.
bool RestoreFromJournal(const std::string& strPackPath, const CPackLock& held);

// Removes the journal once the merged pack is flushed, and syncs its
// directory so that the removal survives a power cut: the merge's commit.
// False when the file stays, or when its removal could not be made durable
// (the last error says why; the journal is gone then, but a power cut may
// bring it back).
bool RemoveJournal(const std::string& strPackPath);

// True when a journal lies beside the pack: a merge of it was interrupted
// and the next open restores the pack it describes.
bool HasJournal(const std::string& strPackPath);
