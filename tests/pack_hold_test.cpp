// An update held from its check to its merge: the file is held unparsed,
// exactly the bytes asked for are copied into a private copy and handed
// out, and the merge reads that copy: a change to the file afterwards, in
// place or by a pack moved over its name, is not what gets merged. On
// Windows no writer gets into the held file at all.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/private_copy.h"
#include "platform/scoped_handle.h"
#include "tests/support/pack_writer.h"
#include "tests/support/temp_dir.h"
#include "tools/filepacktools_lib/crealizepack.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

CTestPack Client() {
  CTestPack pack("res");
  pack.AddEntry("res\\ui\\a.txt", "old", "t1");
  pack.AddTreeForEntries();
  return pack;
}

CTestPack Update(const std::string& strContent) {
  CTestPack pack("res");
  pack.AddEntry("res\\ui\\a.txt", strContent, "t-" + strContent);
  return pack;
}

class HoldTest : public ::testing::Test {
 protected:
  HoldTest() {
    Client().WriteTo(m_dir.Path() / "client.pak");
    Update("checked").WriteTo(m_dir.Path() / "update.pak");
    Update("swapped in").WriteTo(m_dir.Path() / "other.pak");
    Update("CHANGED").WriteTo(m_dir.Path() / "changed.pak");  // the same size as update.pak
    fs::current_path(m_dir.Path());
  }
  std::string ClientEntry() {
    CTestPack client = CTestPack::ReadFrom(m_dir.Path() / "client.pak");
    return client.StoredBytes(*client.FindEntry("res\\ui\\a.txt"));
  }
  // Holds update.pak and copies all of it, returning the bytes handed out.
  std::string HoldAndCopy() {
    EXPECT_TRUE(m_realize.HoldUpdate(m_dir.ProgramPath("update.pak").c_str()));
    uint64_t qwSize = 0;
    EXPECT_TRUE(m_realize.GetHeldUpdateSize(qwSize));
    std::string strCopied;
    EXPECT_TRUE(m_realize.CopyHeldUpdate(qwSize, m_dir.ProgramPath().c_str(),
                                         [&strCopied](const unsigned char* pbyData, size_t nSize) {
                                           strCopied.append(reinterpret_cast<const char*>(pbyData), nSize);
                                           return true;
                                         }));
    return strCopied;
  }
  // Writes changed.pak's bytes over update.pak in place, as a program that
  // ignores share modes does; true when it got in (never on Windows while
  // the update is held).
  bool WriteInPlace() {
    const std::string strBytes = ReadFileBytes(m_dir.Path() / "changed.pak");
#ifdef _WIN32
    CScopedHandle hWriter(CreateFileA(m_dir.ProgramPath("update.pak").c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                      nullptr));
    if (!hWriter) return false;
    DWORD dwWritten = 0;
    return WriteFile(hWriter.Get(), strBytes.data(), static_cast<DWORD>(strBytes.size()), &dwWritten, nullptr) &&
           dwWritten == strBytes.size();
#else
    const int nFd = open((m_dir.Path() / "update.pak").c_str(), O_WRONLY);
    if (nFd < 0) return false;
    const bool bWritten = pwrite(nFd, strBytes.data(), strBytes.size(), 0) == static_cast<ssize_t>(strBytes.size());
    close(nFd);
    return bWritten;
#endif
  }

  CTempDir m_dir;
  CCurrentDirGuard m_cwd;
  CRealizePack m_realize;
};

TEST_F(HoldTest, TheCopyIsTheFileAndWritersAreKeptOut) {
  const std::string strFile = ReadFileBytes(m_dir.Path() / "update.pak");
  EXPECT_EQ(strFile, HoldAndCopy());
  // Share mode: no writer opens the held file through the system's calls.
  CScopedHandle hWriter(CreateFileA(m_dir.ProgramPath("update.pak").c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                    nullptr));
  EXPECT_FALSE(hWriter);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
#ifndef _WIN32
  EXPECT_EQ(PrivateCopyKind::kMemory, m_realize.GetHeldCopyKind()) << "a small update is copied into memory";
#else
  EXPECT_EQ(PrivateCopyKind::kDeleteOnClose, m_realize.GetHeldCopyKind());
#endif
  // The copy is not a file in the directory (on Windows it is one that no
  // one else may open, and it goes with the merge).
  ASSERT_EQ(1, m_realize.MergeHeldUpdate(m_dir.ProgramPath("client.pak").c_str()));
  for (const auto& item : fs::directory_iterator(m_dir.Path())) {
    EXPECT_EQ(std::string::npos, item.path().filename().u8string().find("copy")) << item.path();
  }
}

// Only the bytes asked for are copied and handed out: a size is the
// caller's, and a file shorter than it fails the copy.
TEST_F(HoldTest, ExactlyTheBytesAskedForAreCopied) {
  const std::string strFile = ReadFileBytes(m_dir.Path() / "update.pak");
  ASSERT_TRUE(m_realize.HoldUpdate(m_dir.ProgramPath("update.pak").c_str()));
  std::string strCopied;
  auto sink = [&strCopied](const unsigned char* pbyData, size_t nSize) {
    strCopied.append(reinterpret_cast<const char*>(pbyData), nSize);
    return true;
  };
  ASSERT_TRUE(m_realize.CopyHeldUpdate(10, m_dir.ProgramPath().c_str(), sink));
  EXPECT_EQ(strFile.substr(0, 10), strCopied);
  strCopied.clear();
  EXPECT_FALSE(m_realize.CopyHeldUpdate(strFile.size() + 1, m_dir.ProgramPath().c_str(), sink));
  EXPECT_EQ(static_cast<DWORD>(ERROR_HANDLE_EOF), GetLastError());
  EXPECT_EQ(0, m_realize.MergeHeldUpdate(m_dir.ProgramPath("client.pak").c_str())) << "a failed copy is not kept";
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
  ASSERT_TRUE(m_realize.HoldUpdate(m_dir.ProgramPath("update.pak").c_str()));
  EXPECT_FALSE(m_realize.CopyHeldUpdate(strFile.size(), m_dir.ProgramPath().c_str(),
                                        [](const unsigned char*, size_t) { return false; }));
  EXPECT_EQ(0, m_realize.MergeHeldUpdate(m_dir.ProgramPath("client.pak").c_str()));
  EXPECT_EQ("old", ClientEntry());
}

// The file written in place after the copy (where the system lets a
// writer in): the merge takes the copied bytes.
TEST_F(HoldTest, AFileWrittenInPlaceAfterTheCopyIsNotMerged) {
  const std::string strChecked = ReadFileBytes(m_dir.Path() / "update.pak");
  EXPECT_EQ(strChecked, HoldAndCopy());
  const bool bWritten = WriteInPlace();
#ifdef _WIN32
  EXPECT_FALSE(bWritten) << "the share mode keeps writers out";
#else
  EXPECT_TRUE(bWritten) << "POSIX share modes bind only programs that ask";
  EXPECT_EQ(ReadFileBytes(m_dir.Path() / "changed.pak"), ReadFileBytes(m_dir.Path() / "update.pak"));
#endif
  ASSERT_EQ(1, m_realize.MergeHeldUpdate(m_dir.ProgramPath("client.pak").c_str()));
  EXPECT_EQ("checked", ClientEntry());
}

// Windows refuses to move a file over one that is held; where the system
// allows it, the merge still takes the bytes that were copied.
TEST_F(HoldTest, APackMovedOverTheNameIsNotMerged) {
  HoldAndCopy();
  MoveFileExA(m_dir.ProgramPath("other.pak").c_str(), m_dir.ProgramPath("update.pak").c_str(),
              MOVEFILE_REPLACE_EXISTING);
  ASSERT_EQ(1, m_realize.MergeHeldUpdate(m_dir.ProgramPath("client.pak").c_str()));
  EXPECT_EQ("checked", ClientEntry());
  EXPECT_EQ(0, m_realize.MergeHeldUpdate(m_dir.ProgramPath("client.pak").c_str())) << "nothing is held any more";
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}

// Holding parses nothing: a journal beside the update is neither applied
// nor removed, and the update is merged as it is.
TEST_F(HoldTest, AJournalBesideTheUpdateIsLeftAlone) {
  const std::string strJournal = "not applied: any bytes";
  WriteFileBytes(m_dir.Path() / "update.pak.journal", strJournal);
  HoldAndCopy();
  ASSERT_EQ(1, m_realize.MergeHeldUpdate(m_dir.ProgramPath("client.pak").c_str()));
  EXPECT_EQ("checked", ClientEntry());
  EXPECT_EQ(strJournal, ReadFileBytes(m_dir.Path() / "update.pak.journal"));
}

TEST_F(HoldTest, NothingHeldCopiesNothing) {
  EXPECT_FALSE(
      m_realize.CopyHeldUpdate(1, m_dir.ProgramPath().c_str(), [](const unsigned char*, size_t) { return true; }));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
  uint64_t qwSize = 0;
  EXPECT_FALSE(m_realize.GetHeldUpdateSize(qwSize));
  EXPECT_FALSE(m_realize.HoldUpdate(m_dir.ProgramPath("missing.pak").c_str()));
  EXPECT_EQ(0, m_realize.MergeHeldUpdate(m_dir.ProgramPath("client.pak").c_str()));
  ASSERT_TRUE(m_realize.HoldUpdate(m_dir.ProgramPath("update.pak").c_str()));
  EXPECT_EQ(0, m_realize.MergeHeldUpdate(m_dir.ProgramPath("client.pak").c_str())) << "held, but not copied";
  EXPECT_EQ("old", ClientEntry());
}

}  // namespace
