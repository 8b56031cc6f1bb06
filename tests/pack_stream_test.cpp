// Entry streams: which entry a caller's path opens, the bytes a stream
// holds (plain and decoded), and reading and seeking in it.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/pack_writer.h"
#include "tests/support/temp_dir.h"
#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/packcodec.h"
#include "tools/filepacktools_lib/packstream.h"

namespace {


// Bytes that span the 64 KiB granularity and are not all alike.
std::string Pattern(size_t nSize, unsigned nSeed) {
  std::string str(nSize, '\0');
  for (size_t i = 0; i < nSize; ++i) str[i] = static_cast<char>((i * 31 + nSeed + i / 977) & 0xFF);
  return str;
}

// Reads a whole stream in uneven pieces.
std::string ReadRest(PackStream* pStream) {
  std::string strOut;
  char szBuffer[7];
  for (uint32_t n; (n = CPackFile::StreamRead(szBuffer, sizeof(szBuffer), 0, pStream)) > 0;) strOut.append(szBuffer, n);
  return strOut;
}

struct CStreamCloser {
  void operator()(PackStream* p) const { CPackFile::StreamClose(p); }
};
using CStreamPtr = std::unique_ptr<PackStream, CStreamCloser>;

class PackStreamTest : public ::testing::TestWithParam<bool> {
 protected:
  // A pack "res" (compressed when the parameter says so) whose entries lie
  // at offsets that are not multiples of 64 KiB.
  void SetUp() override {
    const bool bCompressed = GetParam();
    CTestPack pack("res", bCompressed);
    auto add = [&](const std::string& strName, const std::string& strPlain) {
      pack.AddEntry(strName, bCompressed ? Lzma86Encode(strPlain) : strPlain, "", static_cast<uint32_t>(strPlain.size()));
    };
    add("res\\big.bin", Pattern(70001, 1));
    add("res\\ui\\a.txt", m_strA);
    add("res\\res\\ui\\a.txt", "nested root");
    add("res\\empty.txt", "");
    pack.AddEntry("res\\broken.bin", bCompressed ? Lzma86Encode("xxxxxxxx").substr(0, 16) : "short", "", 8);
    pack.AddTreeForEntries();
    pack.WriteTo(m_dir.Path() / "s.pak");
    ASSERT_TRUE(m_pack.Open(m_dir.ProgramPath("s.pak")));
  }

  CStreamPtr Open(const std::string& strPath) { return CStreamPtr(m_pack.StreamOpen(strPath.c_str())); }

  CTempDir m_dir;
  CPackFile m_pack;
  const std::string m_strA = Pattern(66000, 7);
};

TEST_P(PackStreamTest, PathsAreFoldedAndTheRootIsInsertedAfterTheFirstComponent) {
  CStreamPtr pStream = Open("x/UI/a.txt");
  ASSERT_NE(nullptr, pStream);
  EXPECT_EQ("res\\ui\\a.txt", FieldString(pStream->pEntry->szName, kPackNameSize));
  EXPECT_NE(nullptr, Open("x\\ui\\a.txt  ")) << "a final run of spaces is dropped";
  EXPECT_EQ(nullptr, Open("x\\ui\\a.txt x"));
  EXPECT_EQ(nullptr, Open("a.txt")) << "no separator";
  EXPECT_EQ(nullptr, Open("x\\ui\\missing.txt"));
  EXPECT_EQ(nullptr, Open(""));
  EXPECT_EQ(nullptr, m_pack.StreamOpen(nullptr));

  CStreamPtr pNested = Open("res\\ui\\a.txt");
  ASSERT_NE(nullptr, pNested) << "looks up res\\res\\ui\\a.txt";
  EXPECT_EQ("nested root", ReadRest(pNested.get()));
}

TEST_P(PackStreamTest, AStreamHoldsWhatExtractFileWrites) {
  CStreamPtr pStream = Open("x\\ui\\a.txt");
  ASSERT_NE(nullptr, pStream);
  const PackEntry& entry = *m_pack.GetEntryMap()->at("res\\ui\\a.txt");
  EXPECT_EQ(0u, pStream->dwPos);
  EXPECT_EQ(entry.dwOrigSize, pStream->dwSize);
  EXPECT_EQ(entry.dwOffset, pStream->dwDataOffset);
  EXPECT_NE(0u, entry.dwOffset % 65536);
  ASSERT_EQ(1, m_pack.ExtractFile("res\\ui\\a.txt", m_dir.ProgramPath("a.out").c_str()));
  m_pack.Close();  // the stream keeps its own copy
  EXPECT_EQ(ReadFileBytes(m_dir.Path() / "a.out"), ReadRest(pStream.get()));
  EXPECT_EQ(m_strA, ReadFileBytes(m_dir.Path() / "a.out"));
}

TEST_P(PackStreamTest, EntriesThatCannotBeReadOpenNoStream) {
  EXPECT_EQ(nullptr, Open("x\\broken.bin"));
  CStreamPtr pEmpty = Open("x\\empty.txt");
  ASSERT_NE(nullptr, pEmpty);
  EXPECT_EQ(0u, pEmpty->dwSize);
  EXPECT_EQ("", ReadRest(pEmpty.get()));
}

TEST_P(PackStreamTest, OverlongPathsOpenNothing) {
  EXPECT_EQ(nullptr, Open("x\\" + std::string(300, 'a')));
  EXPECT_EQ(nullptr, Open("x\\ui\\a.txt" + std::string(MAX_PATH, ' ')));
  EXPECT_EQ(nullptr, Open("x\\ui\\" + std::string(MAX_PATH - 6, 'b')));
}

INSTANTIATE_TEST_SUITE_P(PlainAndCompressed, PackStreamTest, ::testing::Bool());

TEST(PackStreamSeek, BoundsAndOrigins) {
  unsigned char byData[20];
  for (unsigned char i = 0; i < 20; ++i) byData[i] = i;
  PackStream stream = {};
  stream.pData = byData;
  stream.dwSize = 20;

  EXPECT_EQ(0, CPackFile::StreamSeek(&stream, 20, 0));
  char szBuffer[8];
  EXPECT_EQ(0u, CPackFile::StreamRead(szBuffer, sizeof(szBuffer), 0, &stream));
  EXPECT_EQ(0, CPackFile::StreamSeek(&stream, 10, 0));
  EXPECT_EQ(-1, CPackFile::StreamSeek(&stream, 21, 0));
  EXPECT_EQ(10u, CPackFile::StreamTell(&stream)) << "a failed seek leaves the position";
  EXPECT_EQ(0, CPackFile::StreamSeek(&stream, 5, 1));
  EXPECT_EQ(5u, CPackFile::StreamTell(&stream)) << "origin 1 is absolute";
  EXPECT_EQ(0, CPackFile::StreamSeek(&stream, 0, 2));
  EXPECT_EQ(20u, CPackFile::StreamTell(&stream));
  EXPECT_EQ(-1, CPackFile::StreamSeek(&stream, 21, 2)) << "the bound comes before the origin";
  EXPECT_EQ(-1, CPackFile::StreamSeek(&stream, 0, 3));
  EXPECT_EQ(-1, CPackFile::StreamSeek(&stream, 0, -1));

  EXPECT_EQ(0, CPackFile::StreamSeek(&stream, 17, 0));
  EXPECT_EQ(3u, CPackFile::StreamRead(szBuffer, sizeof(szBuffer), 0, &stream)) << "a read across the end";
  EXPECT_EQ(17, szBuffer[0]);
  EXPECT_EQ(19, szBuffer[2]);
  EXPECT_EQ(20u, CPackFile::StreamTell(&stream));
}

TEST(PackStreamSeek, ANullStreamIsSafeEverywhere) {
  char szBuffer[4];
  EXPECT_EQ(0u, CPackFile::StreamRead(szBuffer, sizeof(szBuffer), 0, nullptr));
  EXPECT_EQ(-1, CPackFile::StreamSeek(nullptr, 0, 0));
  EXPECT_EQ(0u, CPackFile::StreamTell(nullptr));
  CPackFile::StreamClose(nullptr);
}

}  // namespace
