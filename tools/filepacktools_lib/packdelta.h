// Delta updates: the update pack of a release update with each changed
// entry carried as a binary patch against its previous version
// (zstdpatch.h) wherever that is much smaller than the entry itself. A
// player's machine has the previous versions: they are the client pack the
// update merges into. The delta is rebuilt there into the full update (the
// plain one 'paktool diff' writes), which the merge then takes as always.
//
// A delta is not a pack, and nothing can take it for one: where a pack's
// header keeps the end of its data area and its entry count, a delta's has
// 0xFFFFFFFF and -1, which no pack of any size fits, so every pack reader,
// old or new, fails to open it.
//
// File layout, little-endian, nothing between the parts and nothing after
// the last payload:
//
//   CDeltaHeader        60 bytes
//     0   char[8]   szMagic        "pakdelta"
//     8   uint32    dwFormat       1
//     12  uint32    dwNotAPack     0xFFFFFFFF (a pack's dwIndexOffset)
//     16  int32     nNotAPack      -1 (a pack's nEntryCount)
//     20  uint32    dwRecordCount
//     24  char[32]  szRootName     the update's root name
//     56  uint8     byCompressed   1: whole entries are Lzma86 streams, as
//                                  'diff -z' stores them; 0: plain bytes
//     57  uint8[3]  byReserved     zero
//   CDeltaRecord x dwRecordCount, 348 bytes each, in ascending unsigned
//   byte order of their names, each name once:
//     0   char[260] szName         the entry name (code page 936)
//     260 uint32    dwKind         0 whole, 1 patch
//     264 uint32    dwSize         the entry's plain size
//     268 char[32]  szTag          the MD5 of its plain bytes, 32 lower-case
//                                  hex digits: its content tag
//     300 uint32    dwBaseSize     a patch: its base's plain size; else 0
//     304 char[32]  szBaseTag      a patch: its base's MD5; else zeros
//     336 uint32    dwOffset       where its payload starts
//     340 uint32    dwLength       the payload's length
//     344 uint32    dwReserved     zero
//   payloads, in record order, back to back from the end of the records:
//     whole: the entry's stored bytes in the full update (plain bytes, or
//            an Lzma86 stream decoding to dwSize bytes);
//     patch: one zstd frame of dwSize bytes made against the base entry of
//            the same name, with checksum, window as PatchWindowLog says.
//
// A patch applies only to a base of exactly dwBaseSize bytes whose MD5 is
// szBaseTag, and its result must have the MD5 szTag: the signed statement
// covers the whole file, so each patch is bound to both.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/filepacktools_lib/packrecords.h"

constexpr char kDeltaMagic[kPackMagicSize] = {'p', 'a', 'k', 'd', 'e', 'l', 't', 'a'};
constexpr uint32_t kDeltaFormat = 1;
constexpr uint32_t kDeltaNotAPackOffset = 0xFFFFFFFF;
constexpr int32_t kDeltaNotAPackCount = -1;
constexpr uint32_t kDeltaHeaderSize = 60;
constexpr uint32_t kDeltaRecordSize = 348;
constexpr uint32_t kDeltaKindWhole = 0;
constexpr uint32_t kDeltaKindPatch = 1;

// A patch is kept only when it is smaller than this share of the entry's
// whole form (as the update stores it): smaller by a quarter or more.
constexpr double kDeltaKeepRatio = 0.75;

struct CDeltaHeader {
  char szMagic[kPackMagicSize];
  uint32_t dwFormat;
  uint32_t dwNotAPack;
  int32_t nNotAPack;
  uint32_t dwRecordCount;
  char szRootName[kPackRootNameSize];
  uint8_t byCompressed;
  uint8_t byReserved[3];
};

struct CDeltaRecord {
  char szName[kPackNameSize];
  uint32_t dwKind;
  uint32_t dwSize;
  char szTag[kPackTagSize];
  uint32_t dwBaseSize;
  char szBaseTag[kPackTagSize];
  uint32_t dwOffset;
  uint32_t dwLength;
  uint32_t dwReserved;
};

static_assert(sizeof(CDeltaHeader) == kDeltaHeaderSize, "CDeltaHeader layout");
static_assert(offsetof(CDeltaHeader, dwNotAPack) == offsetof(PackHeader, dwIndexOffset), "not a pack");
static_assert(offsetof(CDeltaHeader, nNotAPack) == offsetof(PackHeader, nEntryCount), "not a pack");
static_assert(offsetof(CDeltaHeader, szRootName) == offsetof(PackHeader, szRootName), "CDeltaHeader layout");
static_assert(offsetof(CDeltaHeader, byCompressed) == offsetof(PackHeader, byCompressed), "CDeltaHeader layout");
static_assert(sizeof(CDeltaRecord) == kDeltaRecordSize, "CDeltaRecord layout");
static_assert(offsetof(CDeltaRecord, dwKind) == 260, "CDeltaRecord layout");
static_assert(offsetof(CDeltaRecord, dwBaseSize) == 300, "CDeltaRecord layout");
static_assert(offsetof(CDeltaRecord, dwOffset) == 336, "CDeltaRecord layout");

// True when the first bytes of a file (at least kPackMagicSize of them)
// are a delta's magic.
bool IsDeltaMagic(const void* pData, uint64_t qwSize);

// A delta's header and records, read and checked against the rules above
// and the file's size. Payloads are not read.
struct CDeltaIndex {
  CDeltaHeader header;
  std::vector<CDeltaRecord> vecRecords;
};

// Reads the header and records from the first bytes of a file of qwFileSize
// bytes (pbyData holds at least the header and the records, or the whole
// file when shorter). Returns an empty string when they keep every rule,
// else what is wrong ("record 3: payload outside the file", ...): the
// magic and format, the two not-a-pack fields, names (unique, ascending,
// safe, below the root name), kinds, tags in their form, payloads inside
// the file, back to back, and the file ending at the last one.
std::string ReadDeltaIndex(const unsigned char* pbyData, uint64_t qwAvailable, uint64_t qwFileSize, CDeltaIndex& index);

// Decodes a whole entry's payload into pbyOut (dwSize bytes and the
// decoder's slack, kLzma86DecodeSlack, behind them) and checks its MD5.
// Returns false with ERROR_INVALID_DATA when it does not give exactly its
// recorded bytes.
bool DecodeWholeEntry(const CDeltaRecord& record, const unsigned char* pbyPayload, bool bCompressed,
                      unsigned char* pbyOut);

// True when the bytes have the MD5 of the tag field pszTag.
bool HasTag(const unsigned char* pbyData, uint32_t dwSize, const char* pszTag);

// Checks a delta file as a publisher would before signing it: its index
// (ReadDeltaIndex) and every whole entry (DecodeWholeEntry); a patch can be
// checked only against its base, so patches are counted in nPatches.
// vecProblems receives each problem found, names in code page 936.
// Returns false, with the last error set, when the file cannot be read.
bool VerifyDelta(const std::string& strPath, std::vector<std::string>& vecProblems, size_t& nPatches);

// Why a delta could not be rebuilt into its update.
enum class DeltaFault {
  kNone,
  kDamaged,  // the delta breaks its rules, or an entry does not give its signed bytes
  kBase,     // the client's entry a patch applies to is not the signed base (a damaged client)
  kSystem,   // the system failed (memory, disk): the last error says why
};

struct CDeltaOutcome {
  DeltaFault eFault = DeltaFault::kNone;
  std::string strName;  // the entry at fault, when there is one
  std::string strWhy;   // for a delta that breaks its rules: which
};

// The most bytes of a file ReadDeltaIndex needs for dwRecordCount records.
constexpr uint64_t DeltaIndexSize(uint32_t dwRecordCount) {
  return kDeltaHeaderSize + uint64_t{dwRecordCount} * kDeltaRecordSize;
}
