// Signed update packs with real keys: a signed pack verifies, every change
// to the pack, its statement or its signature is refused and named, key
// files of the wrong kind or damaged are told apart, and versions compare
// as dotted decimal numbers.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "platform/scoped_handle.h"
#include "tests/support/pack_writer.h"
#include "tests/support/temp_dir.h"
#include "tools/filepacktools_lib/ed25519.h"
#include "tools/filepacktools_lib/hextext.h"
#include "tools/filepacktools_lib/packsign.h"
#include "tools/filepacktools_lib/packversion.h"

namespace fs = std::filesystem;

namespace {

class PackSignTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(PackKeyStatus::kOk, GeneratePackKeys(m_dir.ProgramPath("k")));
    ASSERT_EQ(PackKeyStatus::kOk, ReadPackSecretKey(m_dir.ProgramPath("k.key"), m_secret));
    ASSERT_EQ(PackKeyStatus::kOk, ReadPackPublicKey(m_dir.ProgramPath("k.pub"), m_public));
    CTestPack pack("res");
    pack.AddEntry("res\\a.txt", RandomBytes(5000, 1));
    pack.AddEntry("res\\b.txt", "bravo");
    pack.AddTreeForEntries();
    pack.WriteTo(PackPath());
  }

  fs::path PackPath() const { return m_dir.Path() / "update.pak"; }
  fs::path SigPath() const { return m_dir.Path() / "update.pak.sig"; }
  std::string Pack() const { return m_dir.ProgramPath("update.pak"); }
  void Sign(const PackSecretKey& key, const std::string& strProduct = kPackProduct) const {
    ASSERT_TRUE(SignPack(Pack(), key, "1.02", strProduct));
  }
  PackSigCheck Verify() const { return VerifyPackSignature(Pack(), m_public); }

  // The signed file with the first occurrence of strFrom replaced.
  void EditSig(const std::string& strFrom, const std::string& strTo) const {
    std::string strSig = ReadFileBytes(SigPath());
    const size_t nAt = strSig.find(strFrom);
    ASSERT_NE(std::string::npos, nAt) << strFrom;
    WriteFileBytes(SigPath(), strSig.replace(nAt, strFrom.size(), strTo));
  }

  CTempDir m_dir;
  PackSecretKey m_secret;
  PackPublicKey m_public;
};

// One hex digit of a line's value, changed to another hex digit.
std::string FlipHexDigit(const std::string& strLine, size_t nIndex) {
  std::string strFlipped = strLine;
  char& ch = strFlipped[strLine.find(' ') + 1 + nIndex];
  ch = ch == '0' ? '1' : '0';
  return strFlipped;
}

std::string LineOf(const std::string& strText, const std::string& strName) {
  const size_t nStart = strText.find("\n" + strName + " ") + 1;
  return strText.substr(nStart, strText.find('\n', nStart) - nStart);
}

TEST_F(PackSignTest, SignedPackVerifiesAndDigestsAgreeWhateverTheSource) {
  Sign(m_secret);
  const PackSigCheck check = Verify();
  EXPECT_EQ(PackSigStatus::kGood, check.status) << PackSigText(check);
  EXPECT_EQ("1.02", check.strVersion);
  EXPECT_EQ(kPackProduct, check.strProduct);

  // The updater digests the handle it merges from, wherever its pointer is.
  const std::string strBytes = ReadFileBytes(PackPath());
  PackDigest fromFile, fromHandle, fromBytes, fromPieces;
  ASSERT_TRUE(DigestPackFile(Pack(), fromFile));
  CScopedHandle hFile(CreateFileA(Pack().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(hFile);
  char szSkip[100];
  DWORD dwRead = 0;
  ASSERT_TRUE(ReadFile(hFile.Get(), szSkip, sizeof(szSkip), &dwRead, nullptr));
  ASSERT_TRUE(DigestPackHandle(hFile.Get(), fromHandle));
  ASSERT_TRUE(DigestPackBytes(strBytes.data(), strBytes.size(), fromBytes));
  CPackDigester digester;
  for (size_t nDone = 0; nDone < strBytes.size(); nDone += 777)
    digester.Add(strBytes.data() + nDone, std::min<size_t>(777, strBytes.size() - nDone));
  ASSERT_TRUE(digester.Finish(fromPieces));
  for (const PackDigest* pDigest : {&fromHandle, &fromBytes, &fromPieces}) {
    EXPECT_EQ(strBytes.size(), pDigest->qwSize);
    EXPECT_EQ(0, std::memcmp(fromFile.byHash, pDigest->byHash, kPackDigestSize));
  }
  std::string strSig;
  ASSERT_EQ(PackSigStatus::kGood, ReadPackSignature(Pack(), strSig).status);
  EXPECT_EQ(PackSigStatus::kGood, CheckPackSignature(strSig, fromHandle, m_public).status);
}

TEST_F(PackSignTest, ChangedPackStatementOrSignatureIsRefused) {
  EXPECT_EQ(PackSigStatus::kNoSignature, Verify().status);

  Sign(m_secret);
  const std::string strSig = ReadFileBytes(SigPath());
  std::string strPack = ReadFileBytes(PackPath());
  strPack[200] ^= 0x01;
  WriteFileBytes(PackPath(), strPack);
  EXPECT_EQ(PackSigStatus::kDigestMismatch, Verify().status);
  WriteFileBytes(PackPath(), strPack + "x");
  EXPECT_EQ(PackSigStatus::kSizeMismatch, Verify().status);
  strPack[200] ^= 0x01;
  WriteFileBytes(PackPath(), strPack);
  EXPECT_EQ(PackSigStatus::kGood, Verify().status);

  // Statements edited into other well-formed ones no longer match their signature.
  for (const char* pszField : {"sha512", "signature", "size"}) {
    const std::string strLine = LineOf(strSig, pszField);
    EditSig(strLine, FlipHexDigit(strLine, 1));
    EXPECT_EQ(PackSigStatus::kBadSignature, Verify().status) << pszField;
    WriteFileBytes(SigPath(), strSig);
  }
  EditSig("version 1.02", "version 1.03");
  EXPECT_EQ(PackSigStatus::kBadSignature, Verify().status);
  EditSig("version 1.03", "version 1.02");
  EditSig(std::string("product ") + kPackProduct, "product Grumvel");
  EXPECT_EQ(PackSigStatus::kBadSignature, Verify().status);

  PackSigCheck check;
  WriteFileBytes(SigPath(), strSig.substr(0, strSig.size() / 2));
  check = Verify();
  EXPECT_EQ(PackSigStatus::kMalformedSignature, check.status);
  EXPECT_EQ(SigFileFault::kTruncated, check.fault);

  // Another key, and the same key for another product.
  PackSecretKey other;
  ASSERT_EQ(PackKeyStatus::kOk, GeneratePackKeys(m_dir.ProgramPath("other")));
  ASSERT_EQ(PackKeyStatus::kOk, ReadPackSecretKey(m_dir.ProgramPath("other.key"), other));
  Sign(other);
  EXPECT_EQ(PackSigStatus::kBadSignature, Verify().status);
  Sign(m_secret, "Grumvel");
  check = Verify();
  EXPECT_EQ(PackSigStatus::kWrongProduct, check.status);
  EXPECT_EQ("Grumvel", check.strProduct);
  EXPECT_EQ(PackSigStatus::kGood, VerifyPackSignature(Pack(), m_public, "Grumvel").status);
}

TEST_F(PackSignTest, MalformedSignatureFilesAreNamed) {
  Sign(m_secret);
  const std::string strSig = ReadFileBytes(SigPath());
  const std::string strSignature = LineOf(strSig, "signature") + "\n";
  const std::string strStatement = strSig.substr(0, strSig.size() - strSignature.size());
  struct CCase {
    std::string strText;
    SigFileFault fault;
    std::string strField;
  };
  const std::vector<CCase> vecCases = {
      {strStatement, SigFileFault::kTruncated, ""},
      {strSig.substr(0, strSig.size() - 1), SigFileFault::kTruncated, ""},
      {strStatement + "size 5\n" + strSignature, SigFileFault::kDuplicateField, "size"},
      {strStatement + "comment hello\n" + strSignature, SigFileFault::kUnknownField, "comment"},
      {strSig.substr(0, strSig.find("version")) + strSignature, SigFileFault::kMissingField, "version"},
      {strSig + "\n", SigFileFault::kTrailingData, ""},
      {strSig + strSignature, SigFileFault::kTrailingData, ""},
      {strStatement + "signature 00\n", SigFileFault::kBadValue, "signature"},
      {strStatement + "\r\n" + strSignature, SigFileFault::kBadLine, ""},
      {strStatement + "Size 5\n" + strSignature, SigFileFault::kBadLine, ""},
      {ReadFileBytes(m_dir.Path() / "k.pub"), SigFileFault::kNotAStatement, ""},
      {"just text\n", SigFileFault::kNotAStatement, ""},
      {"patchloom-update-statement 3\n" + strSig.substr(strSig.find('\n') + 1), SigFileFault::kUnsupportedFormat, ""},
      {strSig + std::string(1 << 20, '#'), SigFileFault::kTooLong, ""},
  };
  for (const CCase& test : vecCases) {
    WriteFileBytes(SigPath(), test.strText);
    const PackSigCheck check = Verify();
    EXPECT_EQ(PackSigStatus::kMalformedSignature, check.status) << test.strText;
    EXPECT_EQ(test.fault, check.fault) << PackSigText(check) << "\n" << test.strText;
    EXPECT_EQ(test.strField, check.strField) << test.strText;
  }
  // Each value is in exactly one spelling.
  std::string strUpper = LineOf(strSig, "sha512");
  std::transform(strUpper.begin() + 7, strUpper.end(), strUpper.begin() + 7, [](char ch) { return std::toupper(ch); });
  for (const auto& edit : std::vector<std::pair<std::string, std::string>>{{"size ", "size 0"},
                                                                           {"size ", "size -"},
                                                                           {"version 1.02", "version 1 02"},
                                                                           {LineOf(strSig, "sha512"), strUpper}}) {
    WriteFileBytes(SigPath(), strSig);
    EditSig(edit.first, edit.second);
    const PackSigCheck check = Verify();
    EXPECT_EQ(SigFileFault::kBadValue, check.fault) << edit.second << ": " << PackSigText(check);
  }
}

TEST_F(PackSignTest, KeyFilesOfTheWrongKindOrDamagedAreToldApart) {
  PackPublicKey publicKey;
  PackSecretKey secretKey;
  EXPECT_EQ(PackKeyStatus::kWrongKind, ReadPackPublicKey(m_dir.ProgramPath("k.key"), publicKey));
  EXPECT_EQ(PackKeyStatus::kWrongKind, ReadPackSecretKey(m_dir.ProgramPath("k.pub"), secretKey));
  Sign(m_secret);
  EXPECT_EQ(PackKeyStatus::kWrongKind, ReadPackPublicKey(m_dir.ProgramPath("update.pak.sig"), publicKey));
  EXPECT_EQ(PackKeyStatus::kNotAKeyFile, ReadPackPublicKey(m_dir.ProgramPath("update.pak"), publicKey));
  EXPECT_EQ(PackKeyStatus::kUnreadable, ReadPackPublicKey(m_dir.ProgramPath("missing.pub"), publicKey));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());

  const std::string strPublic = ReadFileBytes(m_dir.Path() / "k.pub");
  EXPECT_EQ(PackKeyStatus::kOk, ParsePackPublicKey(strPublic, publicKey));
  EXPECT_EQ(0, std::memcmp(m_public.byKey, publicKey.byKey, kPackKeySize));
  EXPECT_EQ(PackKeyStatus::kUnsupportedFormat,
            ParsePackPublicKey("patchloom-ed25519-public-key 3\n" + LineOf(strPublic, "public") + "\n", publicKey));
  EXPECT_EQ(PackKeyStatus::kDamaged,
            ParsePackPublicKey("patchloom-ed25519-public-key 2\n" + LineOf(strPublic, "public") + "\n", publicKey))
      << "format 2 has an id line";
  EXPECT_EQ(PackKeyStatus::kDamaged, ParsePackPublicKey(strPublic.substr(0, strPublic.size() - 2), publicKey));
  EXPECT_EQ(PackKeyStatus::kDamaged, ParsePackPublicKey(strPublic + "public 00\n", publicKey));

  // A changed seed no longer gives the public key the file records.
  const std::string strSecret = ReadFileBytes(m_dir.Path() / "k.key");
  const std::string strSeed = LineOf(strSecret, "seed");
  std::string strFlipped = strSecret;
  strFlipped.replace(strFlipped.find(strSeed), strSeed.size(), FlipHexDigit(strSeed, 10));
  WriteFileBytes(m_dir.Path() / "flipped.key", strFlipped);
  EXPECT_EQ(PackKeyStatus::kDamaged, ReadPackSecretKey(m_dir.ProgramPath("flipped.key"), secretKey));
}

// Key files name their key's id (format 2); files of format 1, which
// publishers made before, are still read; an id that is not the key's, or a
// key that is no Ed25519 point, is refused.
TEST_F(PackSignTest, KeyFilesNameTheKeysIdAndOldFilesStillRead) {
  const std::string strPublic = ReadFileBytes(m_dir.Path() / "k.pub");
  const std::string strSecret = ReadFileBytes(m_dir.Path() / "k.key");
  const std::string strId = PackKeyId(m_public);
  ASSERT_TRUE(IsPackKeyId(strId)) << strId;
  EXPECT_EQ("patchloom-ed25519-public-key 2\nid " + strId + "\n" + LineOf(strPublic, "public") + "\n", strPublic);
  EXPECT_EQ("patchloom-ed25519-secret-key 2\nid " + strId + "\n" + LineOf(strSecret, "seed") + "\n" +
                LineOf(strSecret, "public") + "\n",
            strSecret);

  PackPublicKey publicKey;
  PackSecretKey secretKey;
  const std::string strOldPublic = "patchloom-ed25519-public-key 1\n" + LineOf(strPublic, "public") + "\n";
  ASSERT_EQ(PackKeyStatus::kOk, ParsePackPublicKey(strOldPublic, publicKey));
  EXPECT_EQ(strId, PackKeyId(publicKey));
  WriteFileBytes(m_dir.Path() / "old.key", "patchloom-ed25519-secret-key 1\n" + LineOf(strSecret, "seed") + "\n" +
                                               LineOf(strSecret, "public") + "\n");
  ASSERT_EQ(PackKeyStatus::kOk, ReadPackSecretKey(m_dir.ProgramPath("old.key"), secretKey));
  EXPECT_EQ(0, std::memcmp(m_public.byKey, secretKey.publicKey.byKey, kPackKeySize));
  // An old key signs statements that name it, as a new one does.
  ASSERT_TRUE(SignPack(Pack(), secretKey, "1.02"));
  EXPECT_EQ(PackSigStatus::kGood, Verify().status);
  EXPECT_EQ("key " + strId, LineOf(ReadFileBytes(SigPath()), "key"));

  // The id line must be the key's, in either file.
  const std::string strOtherId = FlipHexDigit("id " + strId, 3).substr(3);
  std::string strWrong = strPublic;
  strWrong.replace(strWrong.find(strId), strId.size(), strOtherId);
  EXPECT_EQ(PackKeyStatus::kDamaged, ParsePackPublicKey(strWrong, publicKey));
  strWrong = strSecret;
  strWrong.replace(strWrong.find(strId), strId.size(), strOtherId);
  WriteFileBytes(m_dir.Path() / "wrong.key", strWrong);
  EXPECT_EQ(PackKeyStatus::kDamaged, ReadPackSecretKey(m_dir.ProgramPath("wrong.key"), secretKey));
  // Keys that are no public key: the neutral element, a point of order 8,
  // a y without an x, a y of 2^255 - 19 or more.
  for (const char* pszKey : {"0100000000000000000000000000000000000000000000000000000000000000",
                             "c7176a703d4dd84fba3c0b760d10670f2a2053fa2c39ccc64ec7fd7792ac037a",
                             "0200000000000000000000000000000000000000000000000000000000000000",
                             "edffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f"}) {
    EXPECT_EQ(PackKeyStatus::kNotAPoint,
              ParsePackPublicKey(std::string("patchloom-ed25519-public-key 1\npublic ") + pszKey + "\n", publicKey))
        << pszKey;
  }
  EXPECT_EQ(PackKeyStatus::kDamaged, ParsePackPublicKey("patchloom-ed25519-public-key 1\npublic 9f0a67\n", publicKey));

  const std::vector<PackPublicKey> vecKeys = {publicKey, m_public};
  EXPECT_EQ(&vecKeys[1], FindPackKey(vecKeys, strId));
  EXPECT_EQ(nullptr, FindPackKey(vecKeys, strOtherId));
  EXPECT_EQ(nullptr, FindPackKey(vecKeys, ""));
}

// The statement names its key; the check refuses one signed by or naming
// another key, and the steps of a careful check each say their part.
TEST_F(PackSignTest, TheStatementNamesItsKey) {
  ASSERT_EQ(PackKeyStatus::kOk, GeneratePackKeys(m_dir.ProgramPath("other")));
  PackSecretKey other;
  ASSERT_EQ(PackKeyStatus::kOk, ReadPackSecretKey(m_dir.ProgramPath("other.key"), other));
  Sign(other);
  PackSigCheck check = Verify();
  EXPECT_EQ(PackSigStatus::kBadSignature, check.status);
  EXPECT_EQ(PackKeyId(other.publicKey), check.strKey);
  EXPECT_NE(std::string::npos, PackSigText(check).find("names key " + PackKeyId(other.publicKey)))
      << PackSigText(check);
  // Naming this key does not help a statement signed with another.
  EditSig("key " + PackKeyId(other.publicKey), "key " + PackKeyId(m_public));
  EXPECT_EQ(PackSigStatus::kBadSignature, Verify().status);

  Sign(m_secret);
  std::string strSig = ReadFileBytes(SigPath());
  const PackSigCheck parsed = ParseSignedStatement(strSig);
  ASSERT_EQ(PackSigStatus::kGood, parsed.status);
  EXPECT_EQ(PackKeyId(m_public), parsed.strKey);
  EXPECT_EQ(PackKeyId(m_public), parsed.statement.strKey);
  check = CheckSignedStatement(strSig, m_public);
  ASSERT_EQ(PackSigStatus::kGood, check.status);
  PackDigest digest;
  ASSERT_TRUE(DigestPackFile(Pack(), digest));
  EXPECT_EQ(PackSigStatus::kGood, CompareSignedDigest(check.statement, digest));
  digest.byHash[0] ^= 1;
  EXPECT_EQ(PackSigStatus::kDigestMismatch, CompareSignedDigest(check.statement, digest));
  digest.qwSize += 1;
  EXPECT_EQ(PackSigStatus::kSizeMismatch, CompareSignedDigest(check.statement, digest));

  // A signed statement of format 2 without its key line is malformed.
  const std::string strKeyLine = LineOf(strSig, "key") + "\n";
  strSig.erase(strSig.find(strKeyLine), strKeyLine.size());
  check = ParseSignedStatement(strSig);
  EXPECT_EQ(PackSigStatus::kMalformedSignature, check.status);
  EXPECT_EQ(SigFileFault::kMissingField, check.fault);
  EXPECT_EQ("key", check.strField);

  // A statement that names a key is signed only by that key.
  PackStatement statement = parsed.statement;
  statement.strKey = PackKeyId(other.publicKey);
  std::string strText;
  EXPECT_FALSE(MakePackSignature(statement, m_secret, strText));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  EXPECT_TRUE(MakePackSignature(statement, other, strText));
}

// A pack of another size than the signed one is refused before it is read.
TEST_F(PackSignTest, ThePacksSizeIsComparedBeforeItIsRead) {
  Sign(m_secret);
  WriteFileBytes(m_dir.Path() / "big.pak", "");
  fs::resize_file(m_dir.Path() / "big.pak", uint64_t{1} << 30);  // sparse
  fs::copy_file(SigPath(), m_dir.Path() / "big.pak.sig");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(PackSigStatus::kSizeMismatch, VerifyPackSignature(m_dir.ProgramPath("big.pak"), m_public).status);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << "1 GiB was read";
}

TEST_F(PackSignTest, KeygenNeverReplacesAFileAndKeepsTheSecretPrivate) {
#ifndef _WIN32
  struct stat st;
  ASSERT_EQ(0, stat((m_dir.Path() / "k.key").c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 0777u);
#endif
  const std::string strSecret = ReadFileBytes(m_dir.Path() / "k.key");
  EXPECT_EQ(PackKeyStatus::kExists, GeneratePackKeys(m_dir.ProgramPath("k")));
  EXPECT_EQ(strSecret, ReadFileBytes(m_dir.Path() / "k.key"));

  WriteFileBytes(m_dir.Path() / "only.pub", "mine");
  EXPECT_EQ(PackKeyStatus::kExists, GeneratePackKeys(m_dir.ProgramPath("only")));
  EXPECT_FALSE(fs::exists(m_dir.Path() / "only.key"));
  EXPECT_EQ("mine", ReadFileBytes(m_dir.Path() / "only.pub"));
}

// A release update's statement as diff writes it, with removals whose
// names need escaping.
PackStatement ReleaseStatement(const std::string& strPack) {
  PackStatement statement;
  statement.strProduct = kPackProduct;
  statement.strVersion = "1.02";
  statement.strBase = "1.01";
  statement.strBaseRelease = std::string(64, 'a');
  statement.strRelease = std::string(64, 'b');
  statement.vecRemove = {"res\\100%.txt", "res\\a b.txt", "res\\\xB5\xD8\xCD\xBC\\x.map"};
  EXPECT_TRUE(DigestPackFile(strPack, statement.digest));
  return statement;
}

TEST_F(PackSignTest, ReleaseStatementsRoundTripAndEveryFieldIsSigned) {
  const PackStatement statement = ReleaseStatement(Pack());
  ASSERT_TRUE(WritePackStatement(Pack(), statement));
  PackStatement read;
  std::string strWhy;
  ASSERT_TRUE(ReadPackStatement(Pack(), read, strWhy)) << strWhy;
  EXPECT_EQ(statement.vecRemove, read.vecRemove);
  EXPECT_EQ(statement.strBaseRelease, read.strBaseRelease);
  ASSERT_TRUE(SignPackStatement(Pack(), m_secret, read));
  PackSigCheck check = Verify();
  ASSERT_EQ(PackSigStatus::kGood, check.status) << PackSigText(check);
  EXPECT_EQ(2, check.statement.nFormat);
  EXPECT_EQ("1.01", check.statement.strBase);
  EXPECT_EQ(statement.strRelease, check.statement.strRelease);
  EXPECT_EQ(statement.vecRemove, check.statement.vecRemove);

  // Each field of the statement is covered by the signature: edited into
  // another well-formed value, or dropped, it is refused.
  const std::string strSig = ReadFileBytes(SigPath());
  const std::vector<std::pair<std::string, std::string>> vecEdits = {
      {"base 1.01", "base 1.00"},
      {"base 1.01", "base any"},
      {"baserelease a", "baserelease c"},
      {"release b", "release c"},
      {"remove res\\a b.txt\n", ""},
      {"remove res\\a b.txt", "remove res\\a c.txt"},
  };
  for (const auto& edit : vecEdits) {
    WriteFileBytes(SigPath(), strSig);
    EditSig(edit.first, edit.second);
    check = Verify();
    EXPECT_TRUE(check.status == PackSigStatus::kBadSignature || check.status == PackSigStatus::kMalformedSignature)
        << edit.first << " -> " << edit.second << ": " << PackSigText(check);
  }
  // A statement is signed only for the pack it was made for.
  std::string strPack = ReadFileBytes(PackPath());
  WriteFileBytes(PackPath(), strPack + "x");
  EXPECT_FALSE(SignPackStatement(Pack(), m_secret, read));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), GetLastError());
}

TEST_F(PackSignTest, StatementsKeepTheirRules) {
  std::string strField;
  PackStatement statement = ReleaseStatement(Pack());
  EXPECT_EQ(SigFileFault::kNone, CheckStatement(statement, strField)) << strField;
  struct CCase {
    std::function<void(PackStatement&)> fnEdit;
    std::string strField;
  };
  const std::vector<CCase> vecCases = {
      {[](PackStatement& s) { s.strVersion = "1.03-hotfix"; }, "version"},
      {[](PackStatement& s) { s.strVersion = "1.2.3.4.5.6.7.8.9"; }, "version"},
      {[](PackStatement& s) { s.strVersion = "1.1234567890"; }, "version"},
      {[](PackStatement& s) { s.strBase = ""; }, ""},
      {[](PackStatement& s) { s.strBase = "latest"; }, "base"},
      {[](PackStatement& s) { s.strBaseRelease = "ab"; }, "baserelease"},
      {[](PackStatement& s) { s.strBase = "any"; }, "baserelease"},
      {[](PackStatement& s) { s.strBase = "any", s.strBaseRelease.clear(); }, "remove"},
      {[](PackStatement& s) { std::swap(s.vecRemove[0], s.vecRemove[1]); }, "remove"},
      {[](PackStatement& s) { s.vecRemove.push_back(s.vecRemove.back()); }, "remove"},
      {[](PackStatement& s) { s.vecRemove.push_back(std::string(1 << 20, 'z')); }, ""},
  };
  for (const CCase& test : vecCases) {
    PackStatement edited = statement;
    test.fnEdit(edited);
    EXPECT_NE(SigFileFault::kNone, CheckStatement(edited, strField)) << test.strField;
    EXPECT_EQ(test.strField, strField);
    EXPECT_FALSE(WritePackStatement(Pack(), edited));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  }
  statement.strBase = "any";
  statement.strBaseRelease.clear();
  statement.vecRemove.clear();
  EXPECT_EQ(SigFileFault::kNone, CheckStatement(statement, strField));
  EXPECT_TRUE(statement.IsWholeRelease());
}

// Statements of format 1 still verify, and say so: they bind no base.
TEST_F(PackSignTest, FormatOneStatementsStillVerify) {
  PackDigest digest;
  ASSERT_TRUE(DigestPackFile(Pack(), digest));
  const std::string strStatement = std::string("patchloom-update-statement 1\nproduct ") + kPackProduct +
                                   "\nsize " + std::to_string(digest.qwSize) + "\nsha512 " +
                                   HexText(digest.byHash, kPackDigestSize) + "\nversion 1.02-hotfix\n";
  unsigned char bySignature[kEd25519SignatureSize];
  ASSERT_TRUE(Ed25519Sign(m_secret.bySeed, strStatement, bySignature));
  WriteFileBytes(SigPath(), strStatement + "signature " + HexText(bySignature, kEd25519SignatureSize) + "\n");
  const PackSigCheck check = Verify();
  ASSERT_EQ(PackSigStatus::kGood, check.status) << PackSigText(check);
  EXPECT_EQ(1, check.statement.nFormat);
  EXPECT_EQ("1.02-hotfix", check.strVersion);
  EXPECT_EQ("", check.statement.strBase);
}

TEST(PackVersionTest, ReleaseVersionsAreShortDottedDecimals) {
  for (const char* pszGood : {"1", "1.02", "2.0.13", "0", "999999999.1.2.3.4.5.6.7"}) {
    EXPECT_TRUE(IsReleaseVersion(pszGood)) << pszGood;
  }
  for (const char* pszBad : {"", "1.03-hotfix", "+1", "1..2", "1.2.3.4.5.6.7.8.9", "1234567890", "v1", "1.2 "}) {
    EXPECT_FALSE(IsReleaseVersion(pszBad)) << pszBad;
  }
}

TEST(PackVersionTest, DottedDecimalOrder) {
  struct CCase {
    const char* pszVersion;
    const char* pszBase;
    VersionOrder order;
  };
  const CCase cases[] = {
      {"1.02", "1.01", VersionOrder::kNewer},
      {"1.10", "1.9", VersionOrder::kNewer},
      {"1.9", "1.10", VersionOrder::kOlder},
      {"1.02", "1.2", VersionOrder::kSame},
      {"1.2", "1.2.0", VersionOrder::kSame},
      {"1.2.1", "1.2", VersionOrder::kNewer},
      {"2", "1.99.99", VersionOrder::kNewer},
      {"0.0", "0", VersionOrder::kSame},
      {"10000000000000000000001.0", "10000000000000000000000.9", VersionOrder::kNewer},
      {"1.02", "1.02", VersionOrder::kSame},
      {"1.01", "1.02", VersionOrder::kOlder},
      {"1.2a", "1.2", VersionOrder::kNotDotted},
      {"1.2", "", VersionOrder::kNotDotted},
      {"1..2", "1", VersionOrder::kNotDotted},
      {".1", "1", VersionOrder::kNotDotted},
      {"1.", "1", VersionOrder::kNotDotted},
      {"1", "1.2\n", VersionOrder::kNotDotted},
      {"+1", "1", VersionOrder::kNotDotted},
      {"1 .2", "1", VersionOrder::kNotDotted},
  };
  for (const CCase& test : cases) {
    EXPECT_EQ(test.order, CompareVersions(test.pszVersion, test.pszBase)) << test.pszVersion << " vs " << test.pszBase;
  }
}

}  // namespace
