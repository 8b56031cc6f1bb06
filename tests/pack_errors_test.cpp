// Every library operation that fails says why: after each failure on a bad
// input (a missing file, a damaged pack, a missing entry, an unsafe name, an
// entry that does not decode) the last error is not 0, and it is the error
// that tells the cause, whatever the operation cleaned up afterwards.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/pack_writer.h"
#include "tests/support/temp_dir.h"
#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/packclient.h"
#include "tools/filepacktools_lib/packcodec.h"
#include "tools/filepacktools_lib/packloose.h"
#include "tools/filepacktools_lib/packsign.h"
#include "tools/filepacktools_lib/packstream.h"
#include "tools/filepacktools_lib/packverify.h"

namespace {

// A failing operation and the error it must leave, or 0 for any error but 0.
struct CFailureCase {
  const char* pszWhat;
  std::function<bool()> fnRun;  // true when the operation succeeded
  DWORD dwExpected;
};

class PackErrorsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CTestPack good("res");
    good.AddEntry("res\\ui\\a.txt", "alpha", "a1");
    good.AddTreeForEntries();
    good.WriteTo(m_dir.Path() / "good.pak");

    CTestPack damaged = good;
    damaged.header.dwIndexOffset = 1u << 30;  // the index lies past the end
    damaged.bKeepHeader = true;
    damaged.WriteTo(m_dir.Path() / "damaged.pak");
    WriteFileBytes(m_dir.Path() / "garbage.pak", std::string(200, '\x5a'));

    CTestPack broken("res", /*bCompressed=*/true);
    broken.AddEntry("res\\ui\\a.txt", Lzma86Encode("alpha").substr(0, 8), "b1", 5);
    broken.AddTreeForEntries();
    broken.WriteTo(m_dir.Path() / "broken.pak");

    CTestPack unsafe("res");
    unsafe.AddEntry("res\\..\\..\\evil.txt", "evil", "e1");
    unsafe.WriteTo(m_dir.Path() / "unsafe.pak");

    std::filesystem::create_directories(m_dir.Path() / "tree/res/ui");
    WriteFileBytes(m_dir.Path() / "tree/res/ui/a.txt", "alpha");
    m_cwd = std::make_unique<CCurrentDirGuard>();
    std::filesystem::current_path(m_dir.Path());
  }

  std::string Path(const char* pszName) const { return m_dir.ProgramPath(pszName); }

  // Runs each case with the last error cleared first.
  static void ExpectEachFailsWithACause(const std::vector<CFailureCase>& vecCases) {
    for (const CFailureCase& failure : vecCases) {
      SetLastError(ERROR_SUCCESS);
      const bool bOk = failure.fnRun();
      const DWORD dwError = GetLastError();
      EXPECT_FALSE(bOk) << failure.pszWhat << " succeeded";
      if (failure.dwExpected != ERROR_SUCCESS) {
        EXPECT_EQ(failure.dwExpected, dwError) << failure.pszWhat;
      } else {
        EXPECT_NE(static_cast<DWORD>(ERROR_SUCCESS), dwError) << failure.pszWhat << " gave no reason";
      }
    }
  }

  CTempDir m_dir;
  std::unique_ptr<CCurrentDirGuard> m_cwd;
};

TEST_F(PackErrorsTest, OpeningReadingAndExtracting) {
  CPackFile good;
  ASSERT_TRUE(good.Open(Path("good.pak")));
  CPackFile broken;
  ASSERT_TRUE(broken.Open(Path("broken.pak")));
  CPackFile closed;
  auto stream = [](CPackFile& pack, const char* pszPath) {
    PackStream* pStream = pack.StreamOpen(pszPath);
    CPackFile::StreamClose(pStream);
    return pStream != nullptr;
  };
  const std::string strOut = Path("out.txt");
  ExpectEachFailsWithACause({
      {"Open of a missing file", [&] { return CPackFile().Open(Path("missing.pak")); }, ERROR_FILE_NOT_FOUND},
      {"Open of a pack whose index lies outside it", [&] { return CPackFile().Open(Path("damaged.pak")); }, 0},
      {"Open of bytes that are no pack", [&] { return CPackFile().Open(Path("garbage.pak")); }, 0},
      {"OpenForReading of a missing file", [&] { return CPackFile().OpenForReading(Path("missing.pak")); },
       ERROR_FILE_NOT_FOUND},
      {"StreamOpen of a missing entry", [&] { return stream(good, "x/ui/missing.txt"); }, ERROR_FILE_NOT_FOUND},
      {"StreamOpen of a path without a directory", [&] { return stream(good, "a.txt"); }, ERROR_FILE_NOT_FOUND},
      {"StreamOpen of an entry that does not decode", [&] { return stream(broken, "x/ui/a.txt"); }, ERROR_INVALID_DATA},
      {"StreamOpen on a closed pack", [&] { return stream(closed, "x/ui/a.txt"); }, ERROR_INVALID_HANDLE},
      {"StreamOpen of a path of MAX_PATH", [&] { return stream(good, std::string(MAX_PATH, 'a').c_str()); },
       ERROR_FILENAME_EXCED_RANGE},
      {"ExtractFile of a missing entry", [&] { return good.ExtractFile("res\\ui\\missing.txt", strOut.c_str()) != 0; },
       ERROR_FILE_NOT_FOUND},
      {"ExtractFile of an entry that does not decode",
       [&] { return broken.ExtractFile("res\\ui\\a.txt", strOut.c_str()) != 0; }, ERROR_INVALID_DATA},
      {"ExtractFile into a missing directory",
       [&] { return good.ExtractFile("res\\ui\\a.txt", Path("no\\such\\dir\\a.txt").c_str()) != 0; },
       ERROR_PATH_NOT_FOUND},
      {"ExtractPath of a path without the root", [&] { return good.ExtractPath("other\\ui", 1, "x") != 0; }, 0},
      {"ExtractPath of a missing directory", [&] { return good.ExtractPath("res\\missing", 1, "x") != 0; },
       ERROR_PATH_NOT_FOUND},
      {"SaveIndex of a closed pack", [&] { return closed.SaveIndex(nullptr); }, ERROR_INVALID_HANDLE},
      {"VerifyPack of a missing file",
       [&] {
         std::vector<std::string> vecProblems;
         return VerifyPack(Path("missing.pak").c_str(), vecProblems);
       },
       ERROR_FILE_NOT_FOUND},
  });
}

TEST_F(PackErrorsTest, MergingAndCompacting) {
  auto merge = [this](const char* pszUpdate, const char* pszClient) {
    return CRealizePack().MergePack(Path(pszUpdate).c_str(), Path(pszClient).c_str()) != 0;
  };
  auto preview = [this](const char* pszUpdate, const char* pszClient) {
    CMergePreview plan;
    return CRealizePack().PreviewMerge(Path(pszUpdate).c_str(), Path(pszClient).c_str(), plan) != 0;
  };
  ExpectEachFailsWithACause({
      {"MergePack of a missing update", [&] { return merge("missing.pak", "good.pak"); }, ERROR_FILE_NOT_FOUND},
      {"MergePack into a missing client", [&] { return merge("good.pak", "missing.pak"); }, ERROR_FILE_NOT_FOUND},
      {"MergePack of a damaged update", [&] { return merge("damaged.pak", "good.pak"); }, 0},
      {"MergePack into a damaged client", [&] { return merge("good.pak", "damaged.pak"); }, 0},
      {"MergePack of an unsafe name", [&] { return merge("unsafe.pak", "good.pak"); }, 0},
      {"MergePack of an entry that does not decode", [&] { return merge("broken.pak", "good.pak"); },
       ERROR_INVALID_DATA},
      {"PreviewMerge of a missing update", [&] { return preview("missing.pak", "good.pak"); }, ERROR_FILE_NOT_FOUND},
      {"PreviewMerge of an unsafe name", [&] { return preview("unsafe.pak", "good.pak"); }, 0},
      {"HoldUpdate of a missing update", [&] { return CRealizePack().HoldUpdate(Path("missing.pak").c_str()); },
       ERROR_FILE_NOT_FOUND},
      {"MergeHeldUpdate with nothing held",
       [&] { return CRealizePack().MergeHeldUpdate(Path("good.pak").c_str()) != 0; }, ERROR_INVALID_HANDLE},
      {"MergeUpdate beside a damaged record of loose files",
       [&] {
         WriteFileBytes(m_dir.Path() / "client.pak", ReadFileBytes(m_dir.Path() / "good.pak"));
         WriteFileBytes(m_dir.Path() / "client.pak.loose", "not a record\n");
         CUpdateRemovals removals;
         return CRealizePack().MergeUpdate(Path("good.pak").c_str(), Path("client.pak").c_str(), removals) != 0;
       },
       ERROR_INVALID_DATA},
      {"CopyHeldUpdate with nothing held",
       [&] {
         return CRealizePack().CopyHeldUpdate(1, m_dir.ProgramPath().c_str(),
                                              [](const unsigned char*, size_t) { return true; });
       },
       ERROR_INVALID_HANDLE},
      {"CompactPack of a missing pack", [&] { return CRealizePack().CompactPack(Path("missing.pak").c_str()); },
       ERROR_FILE_NOT_FOUND},
      {"CompactPack of a damaged pack", [&] { return CRealizePack().CompactPack(Path("damaged.pak").c_str()); }, 0},
      {"CompactPack of an entry that does not decode",
       [&] { return CRealizePack().CompactPack(Path("broken.pak").c_str()); }, ERROR_INVALID_DATA},
  });
}

TEST_F(PackErrorsTest, BuildingComparingAndSigningReleases) {
  auto build = [this](const char* pszOutDir) {
    CPackFile pack;
    const std::string strRoot = Path("tree\\res");
    pack.SetRootPath(strRoot.c_str());
    pack.CollectFiles(strRoot.c_str());
    return pack.CreatePack(strRoot.c_str(), Path(pszOutDir).c_str(), false, nullptr, nullptr, false);
  };
  auto manifest = [this](const char* pszPack) {
    CPackFile pack;
    ContentTagMap mapRelease;
    std::string strFailed;
    return pack.Open(Path(pszPack)) && pack.ReleaseManifest(false, mapRelease, strFailed);
  };
  auto diff = [this](const char* pszOld, const char* pszNew) {
    CPackFile old;
    CPackFile newer;
    CReleaseDiff result;
    std::string strFailed;
    return old.Open(Path(pszOld)) && newer.Open(Path(pszNew)) && old.DiffRelease(newer, false, result, strFailed);
  };
  ExpectEachFailsWithACause({
      {"CreatePack into a missing directory", [&] { return build("no\\such\\dir"); }, ERROR_PATH_NOT_FOUND},
      {"ReadFileList of a missing list", [&] { return CPackFile().ReadFileList(Path("missing.txt").c_str()); },
       ERROR_FILE_NOT_FOUND},
      {"ReleaseManifest of an entry that does not decode", [&] { return manifest("broken.pak"); }, ERROR_INVALID_DATA},
      {"DiffRelease against an entry that does not decode", [&] { return diff("good.pak", "broken.pak"); },
       ERROR_INVALID_DATA},
      {"CreateUpdatePack of releases that do not differ",
       [&] {
         CPackFile old;
         CPackFile newer;
         CReleaseDiff result;
         std::string strFailed;
         return old.Open(Path("good.pak")) && newer.Open(Path("good.pak")) &&
                old.DiffRelease(newer, false, result, strFailed) &&
                CPackFile().CreateUpdatePack(newer, result, m_dir.ProgramPath().c_str(), false, nullptr, "u.pak");
       },
       ERROR_INVALID_PARAMETER},
      {"ReadClientRelease of a missing client",
       [&] {
         ContentTagMap mapRelease;
         std::string strFailed;
         return ReadClientRelease(Path("missing.pak"), m_dir.ProgramPath(), {}, mapRelease, strFailed);
       },
       ERROR_FILE_NOT_FOUND},
      {"DigestPackFile of a missing pack",
       [&] {
         PackDigest digest;
         return DigestPackFile(Path("missing.pak"), digest);
       },
       ERROR_FILE_NOT_FOUND},
      {"SignPack of a missing pack",
       [&] {
         PackSecretKey key;
         return GeneratePackKeys(Path("release")) == PackKeyStatus::kOk &&
                ReadPackSecretKey(Path("release.key"), key) == PackKeyStatus::kOk &&
                SignPack(Path("missing.pak"), key, "1.02", kPackProduct, kAnyBase);
       },
       ERROR_FILE_NOT_FOUND},
      {"WritePackStatement into a missing directory",
       [&] {
         PackStatement statement;
         statement.strProduct = kPackProduct;
         statement.strVersion = "1.02";
         statement.strBase = kAnyBase;
         return WritePackStatement(Path("no\\such\\dir\\u.pak"), statement);
       },
       ERROR_PATH_NOT_FOUND},
  });
}

}  // namespace
