// On-disk records of a pack file (.pak).
//
// A pack is one file in five regions, back to back, nothing between or after:
//
//   offset 0              PackHeader                     60 bytes
//   offset 60             data area: the entries' stored bytes, no per-blob
//                         header; holes in it are listed in the free list
//   dwIndexOffset         nEntryCount x PackEntry        304 bytes each
//   then                  N x PackDirRecord              264 bytes each
//   file size - 8 x nFreeBlockCount
//                         nFreeBlockCount x PackFreeBlock  8 bytes each
//
// The directory table has no count: N = (file size - dwIndexOffset
// - 304 x nEntryCount - 8 x nFreeBlockCount) / 264, remainder ignored, so a
// writer must end the file exactly at the end of the free list.
//
// Integers are little-endian and 32 bits wide; counts are signed, sizes and
// offsets unsigned and absolute, so a pack stays below 4 GiB. Strings are
// code page 936 bytes in NUL-padded fixed-width fields; a string as long as
// its field has no NUL, so every reader bounds a field by its width.
// Names use the backslash as separator and begin with the root name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "pack records are read and written as little-endian memory images"
#endif

constexpr uint32_t kPackHeaderSize = 60;
constexpr uint32_t kPackEntrySize = 304;
constexpr uint32_t kPackDirRecordSize = 264;
constexpr uint32_t kPackFreeBlockSize = 8;

constexpr size_t kPackNameSize = 260;     // szName, szFullPath (MAX_PATH)
constexpr size_t kPackRootNameSize = 32;  // szRootName
constexpr size_t kPackTagSize = 32;       // szTag
constexpr size_t kPackMagicSize = 8;

constexpr char kPackMagic[kPackMagicSize] = {'p', 'a', 'c', 'k', 0, 0, 0, 0};
constexpr uint32_t kPackVersionBits = 0x3F8CCCCD;  // 1.1f, as a build writes it

constexpr int32_t kPackDirKindFile = 0;
constexpr int32_t kPackDirKindDir = 1;

struct PackHeader {
  char szMagic[kPackMagicSize];  // "pack" + 4 NULs; never checked on read
  float fVersion;                // 1.1 when built; kept as read by a merge
  uint32_t dwIndexOffset;        // end of the data area = start of the index
  int32_t nEntryCount;
  int32_t nFreeBlockCount;
  char szRootName[kPackRootNameSize];
  uint8_t byCompressed;  // 0: entries stored plain; else each is an Lzma86 stream
  uint8_t byReserved[3];
};

struct PackEntry {
  char szName[kPackNameSize];  // root\dir\...\file, folded to lower case
  uint32_t dwOrigSize;         // plain size
  uint32_t dwStoredSize;       // bytes in the data area
  uint32_t dwOffset;           // absolute offset of the stored bytes
  char szTag[kPackTagSize];    // content tag; equal tags mean equal content

  // A record in memory is allocated alone or as one of many in a block (a
  // loaded index); delete gives it back to either (packentryblock.h).
  static void* operator new(size_t nSize);
  static void operator delete(void* pRecord) noexcept;
};

struct PackDirRecord {
  int32_t nKind;                   // kPackDirKindFile or kPackDirKindDir
  char szFullPath[kPackNameSize];  // root\dir\...\name
};

struct PackFreeBlock {
  uint32_t dwOffset;
  uint32_t dwSize;
};

static_assert(sizeof(float) == 4, "fVersion is an IEEE-754 single");
static_assert(sizeof(PackHeader) == kPackHeaderSize, "PackHeader layout");
static_assert(offsetof(PackHeader, fVersion) == 8, "PackHeader layout");
static_assert(offsetof(PackHeader, dwIndexOffset) == 12, "PackHeader layout");
static_assert(offsetof(PackHeader, nEntryCount) == 16, "PackHeader layout");
static_assert(offsetof(PackHeader, nFreeBlockCount) == 20, "PackHeader layout");
static_assert(offsetof(PackHeader, szRootName) == 24, "PackHeader layout");
static_assert(offsetof(PackHeader, byCompressed) == 56, "PackHeader layout");
static_assert(sizeof(PackEntry) == kPackEntrySize, "PackEntry layout");
static_assert(offsetof(PackEntry, dwOrigSize) == 260, "PackEntry layout");
static_assert(offsetof(PackEntry, dwStoredSize) == 264, "PackEntry layout");
static_assert(offsetof(PackEntry, dwOffset) == 268, "PackEntry layout");
static_assert(offsetof(PackEntry, szTag) == 272, "PackEntry layout");
static_assert(sizeof(PackDirRecord) == kPackDirRecordSize, "PackDirRecord layout");
static_assert(sizeof(PackFreeBlock) == kPackFreeBlockSize, "PackFreeBlock layout");

// The text of a fixed-width field: up to its first NUL, never past its width.
inline std::string FieldString(const char* pField, size_t nWidth) {
  const void* pNul = std::memchr(pField, 0, nWidth);
  size_t nLen = pNul ? static_cast<size_t>(static_cast<const char*>(pNul) - pField) : nWidth;
  return std::string(pField, nLen);
}

// Fills a fixed-width field: at most nWidth bytes of the text, rest NUL.
inline void SetField(char* pField, size_t nWidth, const std::string& str) {
  std::memset(pField, 0, nWidth);
  std::memcpy(pField, str.data(), str.size() < nWidth ? str.size() : nWidth);
}

// Tags compare as strings of at most kPackTagSize bytes.
inline bool TagsEqual(const char* pszTagA, const char* pszTagB) {
  return std::strncmp(pszTagA, pszTagB, kPackTagSize) == 0;
}
