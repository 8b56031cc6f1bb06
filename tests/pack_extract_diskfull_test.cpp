// Extraction that runs out of space: the file-size limit of the process
// stands in for a full disk, so the single write of an entry fails part way.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/file_size_limit.h"
#include "tests/support/pack_writer.h"
#include "tests/support/temp_dir.h"
#include "tools/filepacktools_lib/crealizepack.h"

namespace {

TEST(ExtractDiskFull, AFailedWriteLeavesNoPartialFile) {
  CTempDir dir;
  CTestPack pack("res");
  pack.AddEntry("res\\big.bin", std::string(200000, 'b'));
  pack.AddEntry("res\\small.txt", "small");
  pack.WriteTo(dir.Path() / "x.pak");
  CPackFile file;
  ASSERT_TRUE(file.Open(dir.ProgramPath("x.pak")));
  WriteFileBytes(dir.Path() / "old.out", "old");

  CFileSizeLimit limit(100000);
  EXPECT_EQ(0, file.ExtractFile("res\\big.bin", dir.ProgramPath("big.out").c_str()));
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "big.out"));
  EXPECT_EQ(0, file.ExtractFile("res\\big.bin", dir.ProgramPath("old.out").c_str()));
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "old.out")) << "a truncated file is removed too";
  EXPECT_EQ(1, file.ExtractFile("res\\small.txt", dir.ProgramPath("small.out").c_str()));
  EXPECT_EQ("small", ReadFileBytes(dir.Path() / "small.out"));
}

}  // namespace
