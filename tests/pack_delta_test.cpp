// Delta updates: made from two releases whose entries are edits of each
// other, rebuilt against the client into exactly the full update, and
// refused, with nothing written, when the client or the delta is not what
// the delta's records say.
#include <gtest/gtest.h>
#include <zstd.h>

#include <cstring>
#include <filesystem>
#include <random>

#include "tests/support/pack_writer.h"
#include "tests/support/release_tree.h"
#include "tests/support/temp_dir.h"
#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/packdelta.h"

namespace fs = std::filesystem;

namespace {

// Text-like bytes of a seeded generator: what edits of code, tables and
// maps look like to a patch (repeats a compressor finds, nothing trivial).
std::string Content(size_t nSize, std::mt19937& random) {
  static const char* const kWords[] = {"call ", "mov eax, ", "0x7f3a ", "城镇 ", "gate=12;\r\n", "\x90\x90\xc3"};
  std::string str;
  while (str.size() < nSize) {
    str += kWords[random() % 6];
    str += static_cast<char>(random() & 0xFF);
  }
  str.resize(nSize);
  return str;
}

// The entry edited as a new release edits it: bytes replaced, inserted and
// deleted in a few places, a block moved.
std::string Edited(std::string str, std::mt19937& random) {
  if (str.size() < 64) return str + "x";
  for (int nEdit = 0; nEdit < 4; ++nEdit) {
    const size_t nAt = random() % str.size();
    const size_t nLength = 1 + random() % 200;
    switch (random() % 4) {
      case 0:
        str.replace(nAt, std::min(nLength, str.size() - nAt), Content(nLength, random));
        break;
      case 1:
        str.insert(nAt, Content(nLength, random));
        break;
      case 2:
        str.erase(nAt, std::min(nLength, str.size() - nAt - 1));
        break;
      default: {
        const std::string strBlock = str.substr(nAt, std::min<size_t>(2000, str.size() - nAt));
        str.erase(nAt, strBlock.size());
        str.insert(random() % (str.size() + 1), strBlock);
      }
    }
  }
  return str;
}

class DeltaTest : public ::testing::Test {
 protected:
  // Two releases: edited entries of every size (empty, one byte, up to
  // 100 KB, growing and shrinking), one replaced by unrelated bytes, one
  // added, one removed.
  void MakeReleases(unsigned nSeed) {
    std::mt19937 random(nSeed);
    for (int i = 0; i < 12; ++i) {
      const size_t nSizes[] = {0, 1, 700, 5000, 30000, 100000};
      m_old["ui/e" + std::to_string(i) + ".bin"] = Content(nSizes[i % 6] + random() % 100 * (i % 6 > 1), random);
    }
    m_new = m_old;
    for (auto& item : m_new) item.second = Edited(item.second, random);
    m_new["ui/e5.bin"] = RandomBytes(100000, nSeed);  // no longer related to its base
    m_new["地图/new.map"] = Content(4000, random);
    m_new.erase("ui/e0.bin");
    WriteRelease(m_old, m_dir.Path() / "old" / "res");
    WriteRelease(m_new, m_dir.Path() / "new" / "res");
  }
  static void Collect(CPackFile& release, const std::string& strRoot) {
    release.SetRootPath(strRoot.c_str());
    release.CollectFiles(strRoot.c_str());
  }
  // The delta, and the plain full update, of old to new.
  CDeltaReport MakeUpdates(bool bCompress) {
    CCurrentDirGuard guard;
    CPackFile old;
    CPackFile newer;
    Collect(old, m_dir.ProgramPath("old/res"));
    Collect(newer, m_dir.ProgramPath("new/res"));
    CReleaseDiff diff;
    std::string strFailed;
    EXPECT_TRUE(old.DiffRelease(newer, false, diff, strFailed)) << strFailed;
    CDeltaReport report;
    EXPECT_TRUE(old.CreateDeltaUpdate(newer, diff, m_dir.ProgramPath("delta.pak"), bCompress, report));
    CPackFile writer;
    EXPECT_TRUE(writer.CreateUpdatePack(newer, diff, m_dir.ProgramPath().c_str(), false, nullptr, "full"));
    return report;
  }
  void BuildClient(bool bCompress) {
    CCurrentDirGuard guard;
    CPackFile tree;
    tree.SetContentTags(true);
    Collect(tree, m_dir.ProgramPath("old/res"));
    ASSERT_TRUE(tree.CreatePack(m_dir.ProgramPath("old/res").c_str(), m_dir.ProgramPath().c_str(), bCompress, nullptr,
                                "client", false));
  }
  // Rebuilds delta.pak against client.pak into rebuilt.pak.
  bool Rebuild(CDeltaOutcome& outcome, const std::string& strDelta = std::string()) {
    const std::string strBytes = strDelta.empty() ? ReadFileBytes(m_dir.Path() / "delta.pak") : strDelta;
    CPackFile client;
    EXPECT_TRUE(client.OpenForReading(m_dir.ProgramPath("client.pak")));
    CPackFile writer;
    return writer.RebuildDeltaUpdate(reinterpret_cast<const unsigned char*>(strBytes.data()), strBytes.size(), client,
                                     m_dir.ProgramPath().c_str(), "rebuilt", outcome);
  }
  // The client after merging the given update into a copy of client.pak.
  std::string Merged(const std::string& strUpdate) {
    // (libstdc++'s copy_file with overwrite_existing fails on Windows.)
    WriteFileBytes(m_dir.Path() / "merged.pak", ReadFileBytes(m_dir.Path() / "client.pak"));
    CCurrentDirGuard guard;
    fs::create_directories(m_dir.Path() / "loose");
    fs::current_path(m_dir.Path() / "loose");
    CRealizePack realize;
    EXPECT_EQ(1, realize.MergePack(m_dir.ProgramPath(strUpdate).c_str(), m_dir.ProgramPath("merged.pak").c_str()));
    return ReadFileBytes(m_dir.Path() / "merged.pak");
  }

  CTempDir m_dir;
  ReleaseFiles m_old;
  ReleaseFiles m_new;
};

TEST_F(DeltaTest, RebuildsTheFullUpdateByteForByte) {
  for (unsigned nSeed : {3u}) {
    for (bool bCompress : {false, true}) {
      SCOPED_TRACE("seed " + std::to_string(nSeed) + (bCompress ? ", compressed" : ", plain"));
      MakeReleases(nSeed);
      const CDeltaReport report = MakeUpdates(bCompress);
      // Edits of entries above a few hundred bytes go as patches, each far
      // smaller than the entry; the unrelated one and the tiny ones whole.
      EXPECT_GE(report.nPatches, 6u);
      EXPECT_LT(report.qwPatchBytes * 10, report.qwPatchedWholeBytes);
      EXPECT_GE(report.nChangedWhole, 1u);
      EXPECT_EQ(1u, report.nAddedWhole);
      for (bool bClientCompressed : {false, true}) {
        BuildClient(bClientCompressed);
        CDeltaOutcome outcome;
        ASSERT_TRUE(Rebuild(outcome)) << outcome.strWhy << outcome.strName;
        EXPECT_TRUE(ReadFileBytes(m_dir.Path() / "full.pak") == ReadFileBytes(m_dir.Path() / "rebuilt.pak"));
        EXPECT_TRUE(Merged("full.pak") == Merged("rebuilt.pak"));
      }
    }
  }
}

// Nothing takes a delta for a pack: it does not open as one, and a merge
// of it changes nothing.
TEST_F(DeltaTest, ADeltaIsNotAPack) {
  MakeReleases(5);
  MakeUpdates(true);
  BuildClient(false);
  CPackFile pack;
  EXPECT_FALSE(pack.Open(m_dir.ProgramPath("delta.pak")));
  const std::string strClient = ReadFileBytes(m_dir.Path() / "client.pak");
  CRealizePack realize;
  EXPECT_EQ(0, realize.MergePack(m_dir.ProgramPath("delta.pak").c_str(), m_dir.ProgramPath("client.pak").c_str()));
  EXPECT_EQ(strClient, ReadFileBytes(m_dir.Path() / "client.pak"));
}

// Refused with nothing written: a client entry that is not the patch's base
// (a damaged client), a changed byte of a patch, a patch whose result is
// longer than its record says, a patch that asks for a larger window than
// its sizes need, records out of order.
TEST_F(DeltaTest, WhatDoesNotCheckOutIsRefused) {
  MakeReleases(6);
  MakeUpdates(false);
  BuildClient(false);
  const std::string strDelta = ReadFileBytes(m_dir.Path() / "delta.pak");
  CDeltaIndex index;
  const unsigned char* pbyDelta = reinterpret_cast<const unsigned char*>(strDelta.data());
  ASSERT_EQ("", ReadDeltaIndex(pbyDelta, strDelta.size(), strDelta.size(), index));
  size_t nPatch = 0;
  while (index.vecRecords[nPatch].dwKind != kDeltaKindPatch || index.vecRecords[nPatch].dwSize < 1000) ++nPatch;
  const CDeltaRecord& patch = index.vecRecords[nPatch];
  const size_t nRecordAt = kDeltaHeaderSize + nPatch * kDeltaRecordSize;
  auto expectRefused = [&](const std::string& strBytes, DeltaFault eFault, const std::string& strWhat) {
    CDeltaOutcome outcome;
    EXPECT_FALSE(Rebuild(outcome, strBytes)) << strWhat;
    EXPECT_EQ(eFault, outcome.eFault) << strWhat << ": " << outcome.strWhy;
    EXPECT_FALSE(fs::exists(m_dir.Path() / "rebuilt.pak")) << strWhat;
  };

  std::string strFlipped = strDelta;
  strFlipped[patch.dwOffset + patch.dwLength / 2] ^= 0x10;
  expectRefused(strFlipped, DeltaFault::kDamaged, "a changed byte of a patch");

  std::string strShorter = strDelta;
  const uint32_t dwLess = patch.dwSize - 1;
  std::memcpy(&strShorter[nRecordAt + offsetof(CDeltaRecord, dwSize)], &dwLess, 4);
  expectRefused(strShorter, DeltaFault::kDamaged, "a result longer than declared");

  // The same entry's bytes as one frame that asks for a 128 MiB window.
  std::string strWide;
  {
    const std::string& strResult = m_new.at(FieldString(patch.szName, kPackNameSize).substr(4).replace(2, 1, "/"));
    ZSTD_CCtx* pContext = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(pContext, ZSTD_c_windowLog, 27);
    ZSTD_CCtx_setParameter(pContext, ZSTD_c_contentSizeFlag, 0);
    strWide.resize(ZSTD_compressBound(strResult.size()));
    strWide.resize(ZSTD_compress2(pContext, &strWide[0], strWide.size(), strResult.data(), strResult.size()));
    ZSTD_freeCCtx(pContext);
  }
  std::string strWideDelta =
      strDelta.substr(0, patch.dwOffset) + strWide + strDelta.substr(patch.dwOffset + patch.dwLength);
  CDeltaIndex wideIndex = index;
  const int64_t nShift = static_cast<int64_t>(strWide.size()) - patch.dwLength;
  for (size_t i = nPatch; i < wideIndex.vecRecords.size(); ++i) {
    CDeltaRecord& record = wideIndex.vecRecords[i];
    if (i == nPatch) {
      record.dwLength = static_cast<uint32_t>(strWide.size());
    } else {
      record.dwOffset = static_cast<uint32_t>(record.dwOffset + nShift);
    }
    std::memcpy(&strWideDelta[kDeltaHeaderSize + i * kDeltaRecordSize], &record, kDeltaRecordSize);
  }
  expectRefused(strWideDelta, DeltaFault::kDamaged, "a window larger than allowed");

  std::string strSwapped = strDelta;
  std::swap_ranges(strSwapped.begin() + kDeltaHeaderSize, strSwapped.begin() + kDeltaHeaderSize + kDeltaRecordSize,
                   strSwapped.begin() + kDeltaHeaderSize + kDeltaRecordSize);
  expectRefused(strSwapped, DeltaFault::kDamaged, "records out of order");

  // The client's base entry changed by one byte: its MD5 is not the base's.
  CTestPack client = CTestPack::ReadFrom(m_dir.Path() / "client.pak");
  const PackEntry* pBase = client.FindEntry(FieldString(patch.szName, kPackNameSize));
  ASSERT_NE(nullptr, pBase);
  client.strData[pBase->dwOffset - kPackHeaderSize + 10] ^= 0x01;
  client.WriteTo(m_dir.Path() / "client.pak");
  CDeltaOutcome outcome;
  EXPECT_FALSE(Rebuild(outcome));
  EXPECT_EQ(DeltaFault::kBase, outcome.eFault);
  EXPECT_EQ(FieldString(patch.szName, kPackNameSize), outcome.strName);
  EXPECT_FALSE(fs::exists(m_dir.Path() / "rebuilt.pak"));
}

}  // namespace
