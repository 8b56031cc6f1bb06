// The client packs of the merge benchmark.
#pragma once

#include <filesystem>

namespace bench {

// Writes a client about 3.5 times as large as pristine, as large as the
// format's 32-bit offsets allow with room for a merge: pristine's entries
// and data area, then entries of zeros up to just below 4 GiB, kept as a
// hole in the file (sparse), then the index, tree and free list.
void MakeLargeClient(const std::filesystem::path& pristine, const std::filesystem::path& large);

// Puts client back to pristine (of which it is a copy) after a merge of
// update into it, flushed: the header, the slots of the update's entries,
// and everything from the end of the data area on. A merge writes nowhere
// else into a pack without free blocks: a moved entry goes to the end, or
// into a slot an entry of the update left.
void RestoreTouched(const std::filesystem::path& pristine, const std::filesystem::path& client,
                    const std::filesystem::path& update);

}  // namespace bench
