// Merging with the update's entries decoded (or encoded) on worker threads:
// every worker count gives the same client, byte for byte, and the same
// loose files, and an entry that does not decode part way through still
// rolls the whole merge back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/pack_writer.h"
#include "tests/support/temp_dir.h"
#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/packverify.h"

namespace fs = std::filesystem;

namespace {

// Lines of text with a seed in them: compressible, and different per seed.
std::string Text(unsigned nSeed, size_t nSize) {
  std::string str;
  for (unsigned n = 0; str.size() < nSize; ++n) str += "line " + std::to_string(n * 7919u + nSeed) + " of entry\n";
  str.resize(nSize);
  return str;
}

// A stored entry of either kind of pack; the tag tells versions apart.
void Add(CTestPack& pack, const std::string& strName, const std::string& strPlain, const std::string& strTag) {
  if (pack.header.byCompressed) {
    pack.AddEntry(strName, Lzma86Encode(strPlain), strTag, static_cast<uint32_t>(strPlain.size()));
  } else {
    pack.AddEntry(strName, strPlain, strTag);
  }
}

std::string Name(const char* pszDir, int i) { return std::string("res\\") + pszDir + "\\f" + std::to_string(100 + i) + ".txt"; }

// A client of 48 entries in two directories with a hole, some of them large
// enough (up to 160 KB) that entries are decoded at once on several
// workers.
CTestPack Client(bool bCompressed) {
  CTestPack pack("res", bCompressed);
  for (int i = 0; i < 48; ++i) {
    const size_t nSize = i % 8 == 0 ? 160000 : 1000 + 301 * static_cast<size_t>(i);
    // Incompressible entries make a compressed client's slots large too.
    Add(pack, Name(i % 2 ? "ui" : "maps", i), i % 3 ? Text(i, nSize) : RandomBytes(nSize, i), "v1");
    if (i == 20) pack.AddHole(100000);
  }
  pack.AddTreeForEntries();
  return pack;
}

// Changes every kind of placement: smaller and equal entries go in place,
// larger ones move into the hole or to the end, new entries join the tree
// or become loose files, and every fifth entry is left as it is.
CTestPack Update(bool bCompressed) {
  CTestPack pack("res", bCompressed);
  std::map<std::string, std::string> mapPlain;
  for (int i = 0; i < 48; ++i) {
    const size_t nOld = i % 8 == 0 ? 160000 : 1000 + 301 * static_cast<size_t>(i);
    if (i % 5 == 0) {
      mapPlain[Name(i % 2 ? "ui" : "maps", i)] = "unchanged, tag v1";
      continue;
    }
    const size_t nNew = i % 3 == 1 ? nOld / 2 : i % 3 == 2 ? nOld * 3 : nOld;
    mapPlain[Name(i % 2 ? "ui" : "maps", i)] = i % 4 ? Text(i + 1000, nNew) : RandomBytes(nNew, i + 1000);
  }
  for (int i = 0; i < 6; ++i) {
    mapPlain[Name("ui\\added", i)] = Text(i + 2000, 9000 * static_cast<size_t>(i + 1));
    mapPlain[Name("loose\\deep", i)] = Text(i + 3000, 7000 * static_cast<size_t>(i + 1));
  }
  // The index is in name order, as every writer stores it.
  for (const auto& item : mapPlain) {
    Add(pack, item.first, item.second, item.second == "unchanged, tag v1" ? "v1" : "v2");
  }
  return pack;
}

std::map<std::string, std::string> Files(const fs::path& dir) {
  std::map<std::string, std::string> mapFiles;
  for (const auto& item : fs::recursive_directory_iterator(dir)) {
    if (item.is_regular_file()) mapFiles[fs::relative(item.path(), dir).generic_u8string()] = ReadFileBytes(item.path());
  }
  return mapFiles;
}

struct CMergeOutcome {
  int nResult = 0;
  std::string strRefusal;
  std::string strClient;
  std::map<std::string, std::string> mapLoose;
};

// Lays the packs out in a directory of their own and merges with nWorkers.
CMergeOutcome MergeWith(const CTestPack& client, const CTestPack& update, int nWorkers) {
  CTempDir dir;
  CCurrentDirGuard cwd;
  fs::create_directory(dir.Path() / "work");
  client.WriteTo(dir.Path() / "client.pak");
  update.WriteTo(dir.Path() / "update.pak");
  fs::current_path(dir.Path() / "work");
  CRealizePack realize;
  realize.SetMergeWorkers(nWorkers);
  CMergeOutcome outcome;
  outcome.nResult = realize.MergePack(dir.ProgramPath("update.pak").c_str(), dir.ProgramPath("client.pak").c_str());
  outcome.strRefusal = realize.GetMergeRefusal();
  std::vector<std::string> vecProblems;
  if (outcome.nResult == 1) {
    EXPECT_TRUE(VerifyPack(dir.ProgramPath("client.pak").c_str(), vecProblems));
    EXPECT_EQ(std::vector<std::string>{}, vecProblems);
  }
  EXPECT_FALSE(fs::exists(dir.Path() / "client.pak.journal"));
  outcome.strClient = ReadFileBytes(dir.Path() / "client.pak");
  outcome.mapLoose = Files(dir.Path() / "work");
  return outcome;
}

class MergeWorkersTest : public ::testing::TestWithParam<std::pair<bool, bool>> {};

TEST_P(MergeWorkersTest, EveryWorkerCountGivesTheSameClientAndLooseFiles) {
  const bool bClientCompressed = GetParam().first;
  const bool bUpdateCompressed = GetParam().second;
  const CTestPack client = Client(bClientCompressed);
  const CTestPack update = Update(bUpdateCompressed);
  const CMergeOutcome one = MergeWith(client, update, 1);
  ASSERT_EQ(1, one.nResult) << one.strRefusal;

  // The merge did all it should: every changed and new entry of the tree
  // holds the update's bytes, the rest became loose files.
  const CTestPack merged = CTestPack::Parse(one.strClient);
  int nMoved = 0;
  for (const PackEntry& source : update.vecEntries) {
    const std::string strName = FieldString(source.szName, kPackNameSize);
    std::string strPlain = update.StoredBytes(source);
    if (bUpdateCompressed) strPlain = Lzma86Decode(strPlain, source.dwOrigSize);
    if (strName.find("\\loose\\") != std::string::npos) {
      std::string strLoose = strName.substr(strlen("res\\"));
      std::replace(strLoose.begin(), strLoose.end(), '\\', '/');
      EXPECT_EQ(strPlain, one.mapLoose.at(strLoose));
      continue;
    }
    const PackEntry* pEntry = merged.FindEntry(strName);
    ASSERT_NE(nullptr, pEntry) << strName;
    if (FieldString(source.szTag, kPackTagSize) == "v1") continue;
    std::string strStored = merged.StoredBytes(*pEntry);
    EXPECT_EQ(strPlain, bClientCompressed ? Lzma86Decode(strStored, pEntry->dwOrigSize) : strStored) << strName;
    const PackEntry* pOld = client.FindEntry(strName);
    if (pOld && pOld->dwOffset != pEntry->dwOffset) ++nMoved;
  }
  EXPECT_GT(nMoved, 3) << "the scenario must move entries";
  EXPECT_FALSE(merged.vecFree.empty());
  EXPECT_GT(merged.header.dwIndexOffset, client.header.dwIndexOffset) << "the scenario must append";

  for (int nWorkers : {2, 0}) {
    SCOPED_TRACE("workers " + std::to_string(nWorkers));
    const CMergeOutcome many = MergeWith(client, update, nWorkers);
    ASSERT_EQ(1, many.nResult) << many.strRefusal;
    EXPECT_TRUE(one.strClient == many.strClient) << "the client differs from the merge on one worker";
    EXPECT_EQ(one.mapLoose, many.mapLoose);
  }
}

INSTANTIATE_TEST_SUITE_P(ClientAndUpdate, MergeWorkersTest,
                         ::testing::Values(std::make_pair(false, true), std::make_pair(false, false),
                                           std::make_pair(true, true), std::make_pair(true, false)),
                         [](const auto& info) {
                           return std::string(info.param.first ? "CompressedClient" : "PlainClient") +
                                  (info.param.second ? "CompressedUpdate" : "PlainUpdate");
                         });

// The 30th of 60 entries does not decode: the entries before it are decoded
// and written while the workers are already past it, yet the client comes
// back exactly as it was and the refusal names that entry.
TEST(MergeWorkersFailureTest, AnEntryThatDoesNotDecodeRollsEverythingBack) {
  CTestPack client("res");
  CTestPack update("res", true);
  for (int i = 0; i < 60; ++i) {
    const std::string strName = Name("ui", i);
    client.AddEntry(strName, Text(i, 50000), "v1");
    std::string strStream = Lzma86Encode(Text(i + 500, i % 2 ? 20000 : 90000));
    if (i == 30) strStream.replace(strStream.size() / 2, 64, std::string(64, '\x7f'));
    update.AddEntry(strName, strStream, "v2", i % 2 ? 20000 : 90000);
  }
  client.AddTreeForEntries();
  for (int nWorkers : {2, 4}) {
    SCOPED_TRACE("workers " + std::to_string(nWorkers));
    const CMergeOutcome outcome = MergeWith(client, update, nWorkers);
    EXPECT_EQ(0, outcome.nResult);
    EXPECT_TRUE(client.Bytes() == outcome.strClient) << "not rolled back";
    EXPECT_EQ("entry \"" + Name("ui", 30) + "\" of the update does not decode", outcome.strRefusal);
  }
}

}  // namespace
