// The merge lock and file identity: a lock guards the file it was taken on,
// not whatever a compaction later moved under the pack's name.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "platform/file_identity.h"
#include "platform/scoped_handle.h"
#include "tests/support/temp_dir.h"
#include "tools/filepacktools_lib/packlock.h"

namespace fs = std::filesystem;

namespace {

HANDLE OpenShared(const std::string& strPath) {
  return CreateFileA(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST(PackLockTest, SameFileTellsOpensOfOneFileFromOthers) {
  CTempDir dir;
  WriteFileBytes(dir.Path() / "a.pak", "a");
  WriteFileBytes(dir.Path() / "b.pak", "b");
  CScopedHandle hA1(OpenShared(dir.ProgramPath("a.pak")));
  CScopedHandle hA2(OpenShared(dir.ProgramPath("A.PAK")));
  CScopedHandle hB(OpenShared(dir.ProgramPath("b.pak")));
  ASSERT_TRUE(hA1 && hA2 && hB);
  bool bSame = false;
  ASSERT_TRUE(SameFile(hA1.Get(), hA2.Get(), bSame));
  EXPECT_TRUE(bSame);
  ASSERT_TRUE(SameFile(hA1.Get(), hB.Get(), bSame));
  EXPECT_FALSE(bSame);
  EXPECT_FALSE(SameFile(hA1.Get(), nullptr, bSame));
}

TEST(PackLockTest, GuardsOnlyTheFileItWasTakenOn) {
  CTempDir dir;
  WriteFileBytes(dir.Path() / "client.pak", "old");
  WriteFileBytes(dir.Path() / "client.pak.compact.new", "compacted");
  CPackLock lock;
  ASSERT_TRUE(lock.Take(dir.ProgramPath("client.pak")));
  CScopedHandle hBefore(OpenShared(dir.ProgramPath("client.pak")));
  ASSERT_TRUE(hBefore);
  EXPECT_TRUE(lock.Guards(hBefore.Get()));

  CScopedHandle hOther(OpenShared(dir.ProgramPath("client.pak.compact.new")));
  ASSERT_TRUE(hOther);
  EXPECT_FALSE(lock.Guards(hOther.Get()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
  hOther.Reset();

  // A file moved under the pack's name between the lock and the pack's
  // open. A move through the system is refused while the lock's handle is
  // open; another program may replace the name all the same (rename(2) on
  // POSIX), and the lock must not claim the new file, which a second merge
  // could lock for itself.
  hBefore.Reset();
  EXPECT_FALSE(MoveFileExA(dir.ProgramPath("client.pak.compact.new").c_str(), dir.ProgramPath("client.pak").c_str(),
                           MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  std::error_code error;
  fs::rename(dir.Path() / "client.pak.compact.new", dir.Path() / "client.pak", error);
  if (error) {
    EXPECT_EQ("old", ReadFileBytes(dir.Path() / "client.pak"));
    return;
  }
  CScopedHandle hAfter(OpenShared(dir.ProgramPath("client.pak")));
  ASSERT_TRUE(hAfter);
  EXPECT_FALSE(lock.Guards(hAfter.Get()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
  CPackLock second;
  EXPECT_TRUE(second.Take(dir.ProgramPath("client.pak")));
}

}  // namespace
