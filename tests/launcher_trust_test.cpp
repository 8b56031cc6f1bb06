// The updater built with keys, run as players run it: a signed update of a
// newer version is merged; anything else is refused with its code before a
// process is stopped or a byte written; what is merged is what was checked,
// whatever is written into the update file after the check. The keys are
// real ones made for each test (this build of the updater reads them from
// update-key.pub and update-key-2.pub beside itself; Patchloom has them
// compiled in).
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include "launcher/updatetrust.h"
#include "platform/fault_inject.h"
#include "platform/scoped_handle.h"
#include "tests/support/child_process.h"
#include "tests/support/launcher_messages.h"
#include "tests/support/pack_writer.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tool_dir.h"
#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/ed25519.h"
#include "tools/filepacktools_lib/hextext.h"
#include "tools/filepacktools_lib/packdelta.h"
#include "tools/filepacktools_lib/packjournal.h"
#include "tools/filepacktools_lib/packloose.h"
#include "tools/filepacktools_lib/packsign.h"
#include "tools/filepacktools_lib/updatestatement.h"

namespace fs = std::filesystem;

namespace {

const int kRunTimeoutMs = 60000;

long long Code(PackSigStatus status) { return static_cast<long long>(status); }
long long Code(UpdateRefusal refusal) { return static_cast<long long>(refusal); }

class TrustTest : public ::testing::Test {
 protected:
  TrustTest() {
    AdoptOrphans();
    EXPECT_EQ(PackKeyStatus::kOk, GeneratePackKeys(m_keys.ProgramPath("publisher")));
    EXPECT_EQ(PackKeyStatus::kOk, GeneratePackKeys(m_keys.ProgramPath("stranger")));
    fs::copy_file(m_keys.Path() / "publisher.pub", m_tool.Path() / "update-key.pub");
    CTestPack client("res");
    client.AddEntry("res\\ui\\a.txt", "old content", "tag-1");
    client.AddTreeForEntries();
    client.WriteTo(m_tool.Path() / "clientres.pak");
    CTestPack update("res");
    update.AddEntry("res\\ui\\a.txt", "new content, longer", "tag-2");
    update.WriteTo(m_tool.Path() / "update.pak");
    WriteFileBytes(m_tool.Path() / "version.ver", "1.01");
    m_strClientBefore = ReadFileBytes(m_tool.Path() / "clientres.pak");
  }
  void TearDown() override { CollectOrphans(5000); }

  void Sign(const std::string& strVersion, const std::string& strKey = "publisher",
            const std::string& strProduct = kPackProduct) {
    PackSecretKey key;
    ASSERT_EQ(PackKeyStatus::kOk, ReadPackSecretKey(m_keys.ProgramPath(strKey + ".key"), key));
    ASSERT_TRUE(SignPack(m_tool.ProgramPath("update.pak"), key, strVersion, strProduct));
  }
  fs::path SigPath() const { return m_tool.Path() / "update.pak.sig"; }

  std::string Run(const std::vector<std::string>& vecArgs) {
    std::vector<std::string> vecFull = {m_tool.Program().u8string()};
    vecFull.insert(vecFull.end(), vecArgs.begin(), vecArgs.end());
    CChildResult result = RunChild(m_tool.Program(), vecFull, m_tool.Path(), kRunTimeoutMs);
    EXPECT_TRUE(result.bEnded);
    EXPECT_EQ(0, result.nExitCode);
    return result.strOutput;
  }
  std::string Head(const std::vector<std::string>& vecArgs) {
    std::string strHead = Gbk(m_tool.Program().u8string()) + " " + vecArgs[0] + "\n";
    if (vecArgs.size() > 1) strHead += VersionLine(vecArgs[1]);
    return strHead;
  }
  // A refused run: the code, the key prompt, and nothing touched.
  void ExpectRefused(long long nCode, const std::vector<std::string>& vecArgs = {"update.pak", "1.02"},
                     const std::string& strVersionBefore = "1.01") {
    EXPECT_EQ(Head(vecArgs) + MergeFailed(nCode) + PressAnyKey(), Run(vecArgs));
    EXPECT_EQ(m_strClientBefore, ReadFileBytes(m_tool.Path() / "clientres.pak"));
    EXPECT_EQ(strVersionBefore, ReadFileBytes(m_tool.Path() / "version.ver"));
    EXPECT_FALSE(fs::exists(m_tool.Path() / "clientres.pak.journal"));
    EXPECT_FALSE(CToolDir::WaitForStarts(m_tool.Path(), 1, 300)) << "the client was started";
  }
  // Changes the byte at nAt (from the end when negative) to another one that
  // keeps hex text hex.
  void ChangeByte(const fs::path& path, long nAt) {
    std::string strBytes = ReadFileBytes(path);
    char& ch = strBytes[nAt >= 0 ? static_cast<size_t>(nAt) : strBytes.size() - static_cast<size_t>(-nAt)];
    ch = ch == '0' ? '1' : '0';
    WriteFileBytes(path, strBytes);
  }
  void ReplaceInSig(const std::string& strFrom, const std::string& strTo) {
    std::string strSig = ReadFileBytes(SigPath());
    const size_t nAt = strSig.find(strFrom);
    ASSERT_NE(std::string::npos, nAt);
    strSig.replace(nAt, strFrom.size(), strTo);
    WriteFileBytes(SigPath(), strSig);
  }

  std::string KeyId(const std::string& strKey) const {
    PackPublicKey key;
    EXPECT_EQ(PackKeyStatus::kOk, ReadPackPublicKey(m_keys.ProgramPath(strKey + ".pub"), key));
    return PackKeyId(key);
  }
  std::string ClientEntry() const {
    CTestPack client = CTestPack::ReadFrom(m_tool.Path() / "clientres.pak");
    return client.StoredBytes(*client.FindEntry("res\\ui\\a.txt"));
  }
  // The update with its entry's bytes changed, the size and tag kept: what
  // an attacker writes into the checked file.
  std::string TamperedUpdate() const {
    CTestPack update("res");
    update.AddEntry("res\\ui\\a.txt", "NEW CONTENT, LONGER", "tag-2");
    const fs::path path = m_keys.Path() / "tampered.pak";
    update.WriteTo(path);
    const std::string strBytes = ReadFileBytes(path);
    EXPECT_EQ(ReadFileBytes(m_tool.Path() / "update.pak").size(), strBytes.size());
    return strBytes;
  }
  // update.pak's path for the hook's write: the program's path on Windows,
  // the file system's on POSIX.
  std::string NativeUpdatePath() const {
#ifdef _WIN32
    return m_tool.ProgramPath("update.pak");
#else
    return (m_tool.Path() / "update.pak").string();
#endif
  }
  // Writes strBytes over the start of update.pak in place, as a program
  // that ignores share modes does; true when it got in.
  bool WriteInPlace(const std::string& strBytes) const {
#ifdef _WIN32
    CScopedHandle hFile(CreateFileA(m_tool.ProgramPath("update.pak").c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                    nullptr));
    DWORD dwWritten = 0;
    return hFile && WriteFile(hFile.Get(), strBytes.data(), static_cast<DWORD>(strBytes.size()), &dwWritten, nullptr) &&
           dwWritten == strBytes.size();
#else
    const int nFd = open(NativeUpdatePath().c_str(), O_WRONLY);
    if (nFd < 0) return false;
    const bool bWritten = pwrite(nFd, strBytes.data(), strBytes.size(), 0) == static_cast<ssize_t>(strBytes.size());
    close(nFd);
    return bWritten;
#endif
  }

  CTempDir m_keys;
  CToolDir m_tool;
  std::string m_strClientBefore;
};

TEST_F(TrustTest, ASignedNewerUpdateIsMerged) {
  Sign("1.02");
  EXPECT_EQ(Head({"update.pak", "1.02"}) + Spinner() + Checking() + Started(), Run({"update.pak", "1.02"}));
  EXPECT_EQ("new content, longer", ClientEntry());
  EXPECT_EQ("1.02", ReadFileBytes(m_tool.Path() / "version.ver"));
  EXPECT_TRUE(CToolDir::WaitForStarts(m_tool.Path(), 1));
}

TEST_F(TrustTest, UnsignedAndChangedUpdatesAreRefused) {
  ExpectRefused(Code(PackSigStatus::kNoSignature));

  Sign("1.02");
  const std::string strPack = ReadFileBytes(m_tool.Path() / "update.pak");
  ChangeByte(m_tool.Path() / "update.pak", 65);  // inside the entry's bytes
  ExpectRefused(Code(PackSigStatus::kDigestMismatch));
  WriteFileBytes(m_tool.Path() / "update.pak", strPack);

  const std::string strSig = ReadFileBytes(SigPath());
  ReplaceInSig("version 1.02", "version 1.03");  // the statement
  ExpectRefused(Code(PackSigStatus::kBadSignature), {"update.pak", "1.03"});
  WriteFileBytes(SigPath(), strSig);
  ChangeByte(SigPath(), -10);  // a hex digit of the signature
  ExpectRefused(Code(PackSigStatus::kBadSignature));
  WriteFileBytes(SigPath(), strSig.substr(0, strSig.size() / 2));
  ExpectRefused(Code(PackSigStatus::kMalformedSignature));
}

TEST_F(TrustTest, AnotherKeyOrAnotherProductIsRefused) {
  Sign("1.02", "stranger");
  ExpectRefused(Code(UpdateRefusal::kUnknownKey));
  // Naming the trusted key does not make a stranger's signature good.
  ReplaceInSig("key " + KeyId("stranger"), "key " + KeyId("publisher"));
  ExpectRefused(Code(PackSigStatus::kBadSignature));
  Sign("1.02", "publisher", "AnotherGame");
  ExpectRefused(Code(PackSigStatus::kWrongProduct));
}

// Rotation: an updater that trusts the old and the new key takes updates
// signed with either, each checked with the key its statement names.
TEST_F(TrustTest, TwoTrustedKeysAreEachAccepted) {
  ASSERT_EQ(PackKeyStatus::kOk, GeneratePackKeys(m_keys.ProgramPath("successor")));
  fs::copy_file(m_keys.Path() / "successor.pub", m_tool.Path() / "update-key-2.pub");
  Sign("1.02", "successor");
  EXPECT_EQ(Head({"update.pak", "1.02"}) + Spinner() + Checking() + Started(), Run({"update.pak", "1.02"}));
  EXPECT_EQ("new content, longer", ClientEntry());
  EXPECT_EQ("1.02", ReadFileBytes(m_tool.Path() / "version.ver"));

  CTestPack update("res");
  update.AddEntry("res\\ui\\a.txt", "newer still", "tag-3");
  update.WriteTo(m_tool.Path() / "update.pak");
  Sign("1.03", "publisher");
  EXPECT_EQ(Head({"update.pak", "1.03"}) + Spinner() + Checking() + Started(), Run({"update.pak", "1.03"}));
  EXPECT_EQ("newer still", ClientEntry());
  EXPECT_EQ("1.03", ReadFileBytes(m_tool.Path() / "version.ver"));
  EXPECT_TRUE(CToolDir::WaitForStarts(m_tool.Path(), 2));
}

// A statement of format 1 names neither key nor base: refused, and nothing
// of the pack is read for it.
TEST_F(TrustTest, AStatementOfFormat1IsRefused) {
  Sign("1.02");
  std::string strSig = ReadFileBytes(SigPath());
  strSig.replace(0, strSig.find('\n'), "patchloom-update-statement 1");
  for (const std::string strField : {"\nkey ", "\nbase "}) {
    const size_t nAt = strSig.find(strField);
    ASSERT_NE(std::string::npos, nAt);
    strSig.erase(nAt, strSig.find('\n', nAt + 1) - nAt);
  }
  WriteFileBytes(SigPath(), strSig);
  ExpectRefused(Code(UpdateRefusal::kOldStatement));
}

// The update's bytes are written over in place right after the check, by
// the test build's hook, as a program that ignores share modes would: the
// client takes the checked bytes all the same. (On Windows the share mode
// keeps the write out in the first place.)
TEST_F(TrustTest, AnUpdateWrittenInPlaceAfterTheCheckIsNotMerged) {
  Sign("1.02");
  const std::string strChecked = ReadFileBytes(m_tool.Path() / "update.pak");
  const std::string strTampered = TamperedUpdate();
  WriteFileBytes(m_tool.Path() / "tamper.bin", strTampered);
  WriteFileBytes(m_tool.Path() / "tamper.path", NativeUpdatePath());
  EXPECT_EQ(Head({"update.pak", "1.02"}) + Spinner() + Checking() + Started(), Run({"update.pak", "1.02"}));
  const std::string strResult = ReadFileBytes(m_tool.Path() / "tamper.result");
#ifdef _WIN32
  EXPECT_EQ("refused " + std::to_string(ERROR_SHARING_VIOLATION), strResult);
  EXPECT_EQ(strChecked, ReadFileBytes(m_tool.Path() / "update.pak"));
#else
  EXPECT_EQ("written", strResult);
  EXPECT_EQ(strTampered, ReadFileBytes(m_tool.Path() / "update.pak")) << "the write got into the file";
#endif
  EXPECT_EQ("new content, longer", ClientEntry());
  EXPECT_EQ("1.02", ReadFileBytes(m_tool.Path() / "version.ver"));
}

// Another process writes into the update again and again while the updater
// stops the client (about four seconds, after the check): the client takes
// the checked bytes. The client stand-in's end tells that the stop, and so
// the check, has begun.
TEST_F(TrustTest, AnUpdateWrittenByAnotherProcessDuringTheStopIsNotMerged) {
  Sign("1.02");
  const std::string strTampered = TamperedUpdate();
  CChildProcess client(m_tool.Path() / CToolDir::kClientName, {CToolDir::kClientName, "--stay"}, m_tool.Path());
  ASSERT_TRUE(CToolDir::WaitForStarts(m_tool.Path(), 1));
  const std::vector<std::string> vecArgs = {m_tool.Program().u8string(), "update.pak", "1.02"};
  CChildProcess updater(m_tool.Program(), vecArgs, m_tool.Path());
  ASSERT_TRUE(client.Wait(kRunTimeoutMs)) << "the updater did not stop the client";
  // The client dies in the first of 40 passes of 100 ms: the next 3 s are
  // inside the stop, the update held. Writing goes on until the updater
  // ends (after its merge, Windows lets writers in again).
  const auto stopEnds = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  int nInStop = 0;
  int nWrittenInStop = 0;
  while (!updater.Wait(50)) {
    const bool bWritten = WriteInPlace(strTampered);
    if (std::chrono::steady_clock::now() < stopEnds) {
      ++nInStop;
      if (bWritten) ++nWrittenInStop;
    }
  }
  EXPECT_EQ(0, updater.ExitCode());
  EXPECT_GT(nInStop, 10) << "the writes came during the stop";
#ifdef _WIN32
  EXPECT_EQ(0, nWrittenInStop) << "the share mode keeps writers out";
#else
  EXPECT_EQ(nInStop, nWrittenInStop) << "POSIX share modes bind only programs that ask";
  EXPECT_EQ(strTampered, ReadFileBytes(m_tool.Path() / "update.pak"));
#endif
  EXPECT_EQ(Head({"update.pak", "1.02"}) + Spinner() + Checking() + Started(), updater.Output());
  EXPECT_EQ("new content, longer", ClientEntry());
  EXPECT_TRUE(CToolDir::WaitForStarts(m_tool.Path(), 2));
}

// A huge update of another size than the signed one (a sparse file of
// 1 GiB with the .sig of a real update) is refused without being read:
// quickly and in little memory.
TEST_F(TrustTest, AHugeUpdateOfAnotherSizeIsRefusedUnread) {
  Sign("1.02");
  // A run refused for want of a signature: the cost of starting the program.
  const auto startSmall = std::chrono::steady_clock::now();
  Run({"other.pak", "1.02"});
  const auto small = std::chrono::steady_clock::now() - startSmall;
  { std::ofstream huge(m_tool.Path() / "huge.pak", std::ios::binary); }
  fs::resize_file(m_tool.Path() / "huge.pak", uint64_t{1} << 30);
  fs::copy_file(SigPath(), m_tool.Path() / "huge.pak.sig");
  const auto start = std::chrono::steady_clock::now();
  const std::vector<std::string> vecArgs = {"huge.pak", "1.02"};
  std::vector<std::string> vecFull = {m_tool.Program().u8string(), "huge.pak", "1.02"};
  const CChildResult result = RunChild(m_tool.Program(), vecFull, m_tool.Path(), kRunTimeoutMs);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(Head(vecArgs) + MergeFailed(Code(PackSigStatus::kSizeMismatch)) + PressAnyKey(), result.strOutput);
  EXPECT_LT(elapsed, small + std::chrono::milliseconds(500))
      << "took " << std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count() << " ms, a refusal "
      << std::chrono::duration_cast<std::chrono::milliseconds>(small).count() << " ms";
  EXPECT_LT(result.qwPeakMemory, uint64_t{64} << 20) << "peak memory";
  EXPECT_EQ(m_strClientBefore, ReadFileBytes(m_tool.Path() / "clientres.pak"));
}

// A journal beside the update, one that would give the update other bytes
// if applied, is left alone: the signed update is merged as it is.
TEST_F(TrustTest, AJournalBesideTheUpdateIsNotApplied) {
  const fs::path updatePath = m_tool.Path() / "update.pak";
  const std::string strSigned = ReadFileBytes(updatePath);
  const std::string strTampered = TamperedUpdate();
  ASSERT_EQ(strSigned.size(), strTampered.size());
  // The journal of a merge into the tampered bytes: applied, it would put
  // them back into update.pak.
  WriteFileBytes(updatePath, strTampered);
  {
    CScopedHandle hPack(CreateFileA(m_tool.ProgramPath("update.pak").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(hPack);
    PackHeader header;
    std::memcpy(&header, strTampered.data(), sizeof(header));
    ASSERT_TRUE(WriteJournal(m_tool.ProgramPath("update.pak"), hPack.Get(), header, strTampered.size(),
                             {{0, strTampered.size()}}, CJournalFiles()));
  }
  WriteFileBytes(updatePath, strSigned);
  Sign("1.02");
  const std::string strJournal = ReadFileBytes(m_tool.Path() / "update.pak.journal");
  EXPECT_EQ(Head({"update.pak", "1.02"}) + Spinner() + Checking() + Started(), Run({"update.pak", "1.02"}));
  EXPECT_EQ("new content, longer", ClientEntry());
  EXPECT_EQ(strSigned, ReadFileBytes(updatePath));
  EXPECT_EQ(strJournal, ReadFileBytes(m_tool.Path() / "update.pak.journal"));
}

TEST_F(TrustTest, TheVersionMustBeNamedAndNewer) {
  Sign("1.02");
  ExpectRefused(Code(UpdateRefusal::kVersionDiffers), {"update.pak", "1.03"});
  ExpectRefused(Code(UpdateRefusal::kNoVersionArgument), {"update.pak"});
  WriteFileBytes(m_tool.Path() / "version.ver", "1.02");
  ExpectRefused(Code(UpdateRefusal::kNotNewer), {"update.pak", "1.02"}, "1.02");  // a replay
  WriteFileBytes(m_tool.Path() / "version.ver", "1.10");
  ExpectRefused(Code(UpdateRefusal::kNotNewer), {"update.pak", "1.02"}, "1.10");  // a downgrade
}

// A run cut off in its merge (a killed updater, a power cut) leaves the
// client half merged, its journal beside it. The next run may well be
// refused (another update, a signature missing) before it opens the client:
// it puts the client back first all the same, pack and loose files, so
// that nothing is left torn for a reader that is not the library.
TEST_F(TrustTest, ARefusedRunStillPutsBackAnInterruptedMerge) {
  CTestPack update("res");
  update.AddEntry("res\\ui\\a.txt", "new content, longer", "tag-2");
  update.AddEntry("res\\sounds\\x.wav", "a loose file", "tag-x");
  update.WriteTo(m_tool.Path() / "update.pak");
  auto merge = [this] {
    CCurrentDirGuard cwd;
    fs::current_path(m_tool.Path());
    CRealizePack realize;
    return realize.MergePack(m_tool.ProgramPath("update.pak").c_str(), m_tool.ProgramPath("clientres.pak").c_str());
  };
  // The merge stopped at its last point, the journal's removal, as a killed
  // process stops: what it wrote stays.
  FaultInjectArm(FaultMode::kCount, 0);
  ASSERT_EQ(1, merge());
  const uint32_t nPoints = FaultInjectPoints();
  FaultInjectDisarm();
  WriteFileBytes(m_tool.Path() / "clientres.pak", m_strClientBefore);
  fs::remove_all(m_tool.Path() / "sounds");
  FaultInjectArm(FaultMode::kStop, nPoints);
  bool bStopped = false;
  try {
    merge();
  } catch (const CFaultStop&) {
    bStopped = true;
  }
  FaultInjectDisarm();
  ASSERT_TRUE(bStopped);
  ASSERT_TRUE(fs::exists(m_tool.Path() / "clientres.pak.journal"));
  ASSERT_TRUE(fs::exists(m_tool.Path() / "sounds/x.wav"));

  ExpectRefused(Code(PackSigStatus::kNoSignature));
  EXPECT_FALSE(fs::exists(m_tool.Path() / "sounds"));
}

// The check comes before the client is stopped: a refused update leaves the
// running client running.
TEST_F(TrustTest, ARefusedUpdateStopsNothing) {
  CChildProcess client(m_tool.Path() / CToolDir::kClientName, {CToolDir::kClientName, "--stay"}, m_tool.Path());
  ASSERT_TRUE(CToolDir::WaitForStarts(m_tool.Path(), 1));
  EXPECT_EQ(Head({"update.pak", "1.02"}) + MergeFailed(Code(PackSigStatus::kNoSignature)) + PressAnyKey(),
            Run({"update.pak", "1.02"}));
  EXPECT_FALSE(client.Wait(200)) << "the client must still run";
}

// A release update as the publisher makes it (paktool diff --from --to,
// then sign): it applies to the installed release only, removes what the
// new release lacks, records the loose files it writes, and leaves the
// client holding the new release.
class ReleaseTrustTest : public TrustTest {
 protected:
  using Files = std::vector<std::pair<std::string, std::string>>;
  // Releases 1.01 (the client's) and 1.02, as trees; the update between
  // them, signed with its statement.
  void MakeReleaseUpdate() {
    MakeUpdateBetween({{"ui/a.txt", "old content"}, {"ui/gone.txt", "going"}},
                      {{"ui/a.txt", "new content, longer"}, {"声音/new.wav", "a loose file"}}, false);
  }
  // Releases 1.01 and 1.02 of the given files; the update between them (a
  // delta, or the compressed update), signed with its statement; the
  // client: release 1.01 built as a pack.
  void MakeUpdateBetween(const Files& vecOld, const Files& vecNew, bool bDelta) {
    WriteTree("r1/res", vecOld);
    WriteTree("r2/res", vecNew);
    CCurrentDirGuard guard;
    CPackFile old;
    CPackFile newer;
    for (auto* pItem : {&old, &newer}) {
      const std::string strTree = m_keys.ProgramPath(pItem == &old ? "r1/res" : "r2/res");
      pItem->SetRootPath(strTree.c_str());
      pItem->CollectFiles(strTree.c_str());
    }
    CReleaseDiff diff;
    std::string strFailed;
    ASSERT_TRUE(old.DiffRelease(newer, false, diff, strFailed));
    const std::string strUpdate = m_tool.ProgramPath("update.pak");
    CDeltaReport report;
    CPackFile writer;
    ASSERT_TRUE(bDelta ? old.CreateDeltaUpdate(newer, diff, strUpdate, true, report)
                       : writer.CreateUpdatePack(newer, diff, m_tool.ProgramPath().c_str(), true, nullptr, "update"));
    PackStatement statement;
    ASSERT_TRUE(MakeUpdateStatement(diff, strUpdate, kPackProduct, "1.01", "1.02", statement));
    statement.bDelta = bDelta;
    PackSecretKey key;
    ASSERT_EQ(PackKeyStatus::kOk, ReadPackSecretKey(m_keys.ProgramPath("publisher.key"), key));
    ASSERT_TRUE(SignPackStatement(strUpdate, key, statement));
    CPackFile build;
    build.SetContentTags(true);
    build.SetRootPath(m_keys.ProgramPath("r1/res").c_str());
    build.CollectFiles(m_keys.ProgramPath("r1/res").c_str());
    ASSERT_TRUE(build.CreatePack(m_keys.ProgramPath("r1/res").c_str(), m_tool.ProgramPath().c_str(), false, nullptr,
                                 "clientres", false));
    m_strClientBefore = ReadFileBytes(m_tool.Path() / "clientres.pak");
  }
  void WriteTree(const std::string& strRoot, const Files& vecFiles) {
    for (const auto& file : vecFiles) {
      const fs::path path = m_keys.Path() / Utf8Path(strRoot + "/" + file.first);
      fs::create_directories(path.parent_path());
      WriteFileBytes(path, file.second);
    }
  }
};

TEST_F(ReleaseTrustTest, AReleaseUpdateTakesItsBaseToTheNewRelease) {
  MakeReleaseUpdate();
  EXPECT_EQ(Head({"update.pak", "1.02"}) + Spinner() + Checking() + Started(), Run({"update.pak", "1.02"}));
  CTestPack client = CTestPack::ReadFrom(m_tool.Path() / "clientres.pak");
  EXPECT_EQ("new content, longer", client.StoredBytes(*client.FindEntry("res\\ui\\a.txt")));
  EXPECT_EQ(nullptr, client.FindEntry("res\\ui\\gone.txt"));
  EXPECT_EQ("a loose file", ReadFileBytes(m_tool.Path() / Utf8Path("声音/new.wav")));
  std::set<std::string> setLoose;
  ASSERT_TRUE(ReadLooseRecord(m_tool.ProgramPath("clientres.pak"), setLoose));
  EXPECT_EQ(std::set<std::string>{Gbk("res\\声音\\new.wav")}, setLoose);
  EXPECT_EQ("1.02", ReadFileBytes(m_tool.Path() / "version.ver"));
  EXPECT_TRUE(CToolDir::WaitForStarts(m_tool.Path(), 1));
}

// Each refusal has its code, and comes before anything is stopped or
// written.
TEST_F(ReleaseTrustTest, AnUpdateForAnotherClientIsRefusedWithItsCode) {
  MakeReleaseUpdate();
  WriteFileBytes(m_tool.Path() / "version.ver", "1.00");
  ExpectRefused(Code(UpdateRefusal::kWrongBase), {"update.pak", "1.02"}, "1.00");
  WriteFileBytes(m_tool.Path() / "version.ver", "1.01-beta");
  ExpectRefused(Code(UpdateRefusal::kNoInstalledVersion), {"update.pak", "1.02"}, "1.01-beta");
  WriteFileBytes(m_tool.Path() / "version.ver", "1.01");
  // A client edited by hand is not the release the update was made for.
  // (Its content tags would still vouch for the old bytes: the check reads
  // what has no tags, so the edited client here has none.)
  CTestPack edited = CTestPack::Parse(m_strClientBefore);
  for (PackEntry& entry : edited.vecEntries) std::memset(entry.szTag, 0, kPackTagSize);
  edited.strData[edited.strData.find("old content")] = 'O';
  edited.WriteTo(m_tool.Path() / "clientres.pak");
  m_strClientBefore = ReadFileBytes(m_tool.Path() / "clientres.pak");
  ExpectRefused(Code(UpdateRefusal::kClientNotBase));
}

// A delta update of the same two releases, whose large entry goes as a
// patch against the client's own entry.
class DeltaTrustTest : public ReleaseTrustTest {
 protected:
  void MakeDeltaUpdate() {
    std::string strOld;
    for (int i = 0; i < 2000; ++i) strOld += "line " + std::to_string(i * 7919 % 10007) + " of the table\n";
    m_strTable = strOld;
    m_strTable.replace(m_strTable.size() / 2, 12, "an edit here");
    MakeUpdateBetween({{"ui/table.txt", strOld}, {"ui/gone.txt", "going"}},
                      {{"ui/table.txt", m_strTable}, {"声音/new.wav", "a loose file"}}, true);
    ASSERT_LT(ReadFileBytes(m_tool.Path() / "update.pak").size(), m_strTable.size() / 4) << "the table went whole";
  }
  std::string m_strTable;
};

TEST_F(DeltaTrustTest, ASignedDeltaTakesItsBaseToTheNewRelease) {
  MakeDeltaUpdate();
  EXPECT_EQ(Head({"update.pak", "1.02"}) + Spinner() + Checking() + Started(), Run({"update.pak", "1.02"}));
  CTestPack client = CTestPack::ReadFrom(m_tool.Path() / "clientres.pak");
  EXPECT_EQ(m_strTable, client.StoredBytes(*client.FindEntry("res\\ui\\table.txt")));
  EXPECT_EQ(nullptr, client.FindEntry("res\\ui\\gone.txt"));
  EXPECT_EQ("a loose file", ReadFileBytes(m_tool.Path() / Utf8Path("声音/new.wav")));
  EXPECT_EQ("1.02", ReadFileBytes(m_tool.Path() / "version.ver"));
  EXPECT_FALSE(fs::exists(m_tool.Path() / "clientres.pak.rebuilt.pak"));
  EXPECT_TRUE(CToolDir::WaitForStarts(m_tool.Path(), 1));
}

// A client whose entry was damaged under its intact tag passes the base
// check, which trusts tags; the patch's base is then not the signed one:
// the whole update is refused with its own code before anything is stopped
// or written.
TEST_F(DeltaTrustTest, ADamagedBaseEntryRefusesTheDelta) {
  MakeDeltaUpdate();
  CTestPack damaged = CTestPack::Parse(m_strClientBefore);
  damaged.strData[damaged.strData.find("line ") + 2] = 'N';
  damaged.WriteTo(m_tool.Path() / "clientres.pak");
  m_strClientBefore = ReadFileBytes(m_tool.Path() / "clientres.pak");
  CChildProcess client(m_tool.Path() / CToolDir::kClientName, {CToolDir::kClientName, "--stay"}, m_tool.Path());
  ASSERT_TRUE(CToolDir::WaitForStarts(m_tool.Path(), 1));
  EXPECT_EQ(Head({"update.pak", "1.02"}) + MergeFailed(Code(UpdateRefusal::kClientEntryDiffers)) + PressAnyKey(),
            Run({"update.pak", "1.02"}));
  EXPECT_FALSE(client.Wait(200)) << "the client must still run";
  EXPECT_EQ(m_strClientBefore, ReadFileBytes(m_tool.Path() / "clientres.pak"));
  EXPECT_EQ("1.01", ReadFileBytes(m_tool.Path() / "version.ver"));
  EXPECT_FALSE(fs::exists(m_tool.Path() / "clientres.pak.journal"));
  EXPECT_FALSE(fs::exists(m_tool.Path() / Utf8Path("声音/new.wav")));
  EXPECT_FALSE(fs::exists(m_tool.Path() / "clientres.pak.rebuilt.pak"));
}

TEST_F(TrustTest, AStatementOfFormatOneIsRefusedWithItsOwnCode) {
  PackDigest digest;
  ASSERT_TRUE(DigestPackFile(m_tool.ProgramPath("update.pak"), digest));
  PackSecretKey key;
  ASSERT_EQ(PackKeyStatus::kOk, ReadPackSecretKey(m_keys.ProgramPath("publisher.key"), key));
  const std::string strStatement = std::string("patchloom-update-statement 1\nproduct ") + kPackProduct + "\nsize " +
                                   std::to_string(digest.qwSize) + "\nsha512 " +
                                   HexText(digest.byHash, kPackDigestSize) + "\nversion 1.02\n";
  unsigned char bySignature[kEd25519SignatureSize];
  ASSERT_TRUE(Ed25519Sign(key.bySeed, strStatement, bySignature));
  WriteFileBytes(SigPath(), strStatement + "signature " + HexText(bySignature, kEd25519SignatureSize) + "\n");
  ExpectRefused(Code(UpdateRefusal::kOldStatement));
}

// An update merged but not recorded would be merged again next time: a
// version.ver that cannot be written is reported, and the client is not
// started as if all were well.
TEST_F(TrustTest, AVersionFileThatCannotBeWrittenIsReported) {
  Sign("1.02");
  fs::remove(m_tool.Path() / "version.ver");
  fs::create_directory(m_tool.Path() / "version.ver");
  WriteFileBytes(m_tool.Path() / "version.ver" / "keep", "a directory in the way");
  const std::string strOut = Run({"update.pak", "1.02"});
  const std::string strHead = Head({"update.pak", "1.02"}) + Spinner() + Checking() + MergeFailed(0).substr(0, 10);
  EXPECT_EQ(strHead, strOut.substr(0, strHead.size()));
  EXPECT_NE(std::string::npos, strOut.find(PressAnyKey())) << strOut;
  EXPECT_EQ(std::string::npos, strOut.find(Started()));
  EXPECT_EQ(std::string::npos, strOut.find(MergeFailed(0))) << "a failure is never code 0";
  CTestPack client = CTestPack::ReadFrom(m_tool.Path() / "clientres.pak");
  EXPECT_EQ("new content, longer", client.StoredBytes(*client.FindEntry("res\\ui\\a.txt")));
  EXPECT_FALSE(CToolDir::WaitForStarts(m_tool.Path(), 1, 300)) << "the client was started";
}

}  // namespace
