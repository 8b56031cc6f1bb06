// Private copies (platform/private_copy.h): what is written reads back and
// maps; no other open reaches the copy by a name; a memfd copy refuses every
// write once sealed; the copy leaves nothing behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/file_io.h"
#include "platform/private_copy.h"
#include "platform/scoped_handle.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

size_t EntriesIn(const fs::path& dir) {
  size_t nEntries = 0;
  for (auto it = fs::directory_iterator(dir); it != fs::directory_iterator(); ++it) ++nEntries;
  return nEntries;
}

// Writes the bytes, then reads them back through a seek and a mapping.
void WriteAndReadBack(HANDLE hCopy, const std::string& strBytes) {
  ASSERT_TRUE(WriteAll(hCopy, strBytes.data(), strBytes.size()));
  ASSERT_TRUE(SealPrivateCopy(hCopy));
  uint64_t qwSize = 0;
  ASSERT_TRUE(FileSize(hCopy, qwSize));
  EXPECT_EQ(strBytes.size(), qwSize);
  LARGE_INTEGER liPos;
  ASSERT_TRUE(SeekFile(hCopy, liPos, 0));
  std::string strRead(strBytes.size(), '\0');
  ASSERT_TRUE(ReadAll(hCopy, &strRead[0], strRead.size()));
  EXPECT_EQ(strBytes, strRead);
  CScopedHandle hMapping(CreateFileMappingA(hCopy, nullptr, PAGE_READONLY, 0, 0, nullptr));
  ASSERT_TRUE(hMapping);
  CMappedView view;
  const unsigned char* pbyData = view.Map(hMapping.Get(), 0, strBytes.size(), 65536);
  ASSERT_NE(nullptr, pbyData);
  EXPECT_EQ(strBytes, std::string(reinterpret_cast<const char*>(pbyData), strBytes.size()));
}

TEST(PrivateCopyTest, ASmallCopyIsPrivateAndReadsBack) {
  CTempDir dir;
  const std::string strBytes = RandomBytes(100000, 7);
  PrivateCopyKind eKind = PrivateCopyKind::kRemovedFile;
  CScopedHandle hCopy(CreatePrivateCopy(dir.ProgramPath().c_str(), strBytes.size(), &eKind));
  ASSERT_TRUE(hCopy) << GetLastError();
  WriteAndReadBack(hCopy.Get(), strBytes);
#ifdef _WIN32
  EXPECT_EQ(PrivateCopyKind::kDeleteOnClose, eKind);
  // The copy has a name while open, but no other open gets in.
  ASSERT_EQ(1u, EntriesIn(dir.Path()));
  const fs::path copy = fs::directory_iterator(dir.Path())->path();
  CScopedHandle hOther(CreateFileA(ToProgramPath(copy).c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
  EXPECT_FALSE(hOther);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
#else
  EXPECT_EQ(PrivateCopyKind::kMemory, eKind);
  EXPECT_EQ(0u, EntriesIn(dir.Path()));
  // Sealed: no write, no growth, through any handle.
  LARGE_INTEGER liPos;
  ASSERT_TRUE(SeekFile(hCopy.Get(), liPos, 0));
  EXPECT_FALSE(WriteAll(hCopy.Get(), "x", 1));
  ASSERT_TRUE(SeekFile(hCopy.Get(), liPos, strBytes.size()));
  EXPECT_FALSE(WriteAll(hCopy.Get(), "x", 1));
#endif
  hCopy.Reset();
  EXPECT_EQ(0u, EntriesIn(dir.Path()));
}

// A copy too large for memory lives in the directory, reachable by no name.
TEST(PrivateCopyTest, ALargeCopyLivesInTheDirectoryUnnamed) {
  CTempDir dir;
  const std::string strBytes = RandomBytes(5000, 8);
  PrivateCopyKind eKind = PrivateCopyKind::kMemory;
  CScopedHandle hCopy(CreatePrivateCopy(dir.ProgramPath().c_str(), kPrivateCopyMemoryLimit + 1, &eKind));
  ASSERT_TRUE(hCopy) << GetLastError();
  WriteAndReadBack(hCopy.Get(), strBytes);
#ifdef _WIN32
  EXPECT_EQ(PrivateCopyKind::kDeleteOnClose, eKind);
#else
  EXPECT_TRUE(eKind == PrivateCopyKind::kUnnamedFile || eKind == PrivateCopyKind::kRemovedFile);
  EXPECT_EQ(0u, EntriesIn(dir.Path()));
#endif
  hCopy.Reset();
  EXPECT_EQ(0u, EntriesIn(dir.Path()));
  EXPECT_EQ(INVALID_HANDLE_VALUE,
            CreatePrivateCopy(dir.ProgramPath("missing").c_str(), kPrivateCopyMemoryLimit + 1, nullptr));
}

}  // namespace
