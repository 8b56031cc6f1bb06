// Binary patches: the new bytes of an entry compressed by zstd with its old
// bytes as a reference prefix, so that what the two share costs almost
// nothing. One zstd frame per patch, through libzstd's stable API, with its
// content size and checksum in the frame and long-distance matching on.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

// The most a patch may span: its base and result together. The window a
// patch is made and applied with covers both, and a decoder refuses any
// frame that asks for more than the base and result need, so memory stays
// bounded by one base, one result and this window. Larger entries go whole.
constexpr int kPatchMaxWindowLog = 30;
constexpr uint64_t kPatchMaxSpan = uint64_t{1} << kPatchMaxWindowLog;

// The compression level patches are made with: the makers run offline and
// the level does not change what a player's machine spends applying them.
constexpr int kPatchLevel = 19;

// The window log a patch of dwBase and dwResult bytes is made and applied
// with: the smallest that covers both (at least zstd's minimum, 10).
int PatchWindowLog(uint32_t dwBase, uint32_t dwResult);

// Makes the patch of pbyResult against pbyBase into strPatch. Returns false
// with ERROR_FILE_TOO_LARGE when base and result span more than
// kPatchMaxSpan, ERROR_NOT_ENOUGH_MEMORY when zstd cannot get its memory.
bool MakePatch(const unsigned char* pbyBase, uint32_t dwBase, const unsigned char* pbyResult, uint32_t dwResult,
               std::string& strPatch);

// Applies a patch: decodes exactly dwResult bytes into pbyOut (which holds
// dwResult bytes) with pbyBase as the reference. Returns false with
// ERROR_INVALID_DATA when the patch is not one frame that decodes, with a
// matching checksum, to exactly dwResult bytes within the window
// PatchWindowLog(dwBase, dwResult) allows; ERROR_NOT_ENOUGH_MEMORY when
// zstd cannot get its memory. pbyOut holds nothing usable then.
bool ApplyPatch(const unsigned char* pbyBase, uint32_t dwBase, const unsigned char* pbyPatch, uint32_t dwPatch,
                unsigned char* pbyOut, uint32_t dwResult);
