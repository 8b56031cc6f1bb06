// paktool's --json for list, info and verify, and --version, run as scripts
// run them: the real executable as a child process, the JSON document parsed
// and held against the plain output of the same command on the same pack.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/pack_writer.h"
#include "tests/support/temp_dir.h"
#include "tools/filepacktools_lib/packsign.h"
#include "tools/filepacktools_lib/patchloomversion.h"

namespace fs = std::filesystem;

namespace {

const int kTimeoutMs = 120000;

// Text as paktool shows it on a terminal: UTF-8 here, code page 936 on Windows.
std::string Shown(const std::string& strUtf8) {
#ifdef _WIN32
  return Gbk(strUtf8);
#else
  return strUtf8;
#endif
}

std::vector<std::string> Lines(const std::string& strOutput) {
  std::vector<std::string> vecLines;
  std::istringstream in(strOutput);
  for (std::string strLine; std::getline(in, strLine);) vecLines.push_back(strLine);
  return vecLines;
}

std::string Pattern(size_t nSize, unsigned nSeed) {
  std::string str(nSize, '\0');
  for (size_t i = 0; i < nSize; ++i) str[i] = static_cast<char>((i * 13 + nSeed + i / 97) & 0xFF);
  return str;
}

// A number of the document as the plain output writes it.
std::string Number(const nlohmann::json& value) { return std::to_string(value.get<uint64_t>()); }

class JsonToolTest : public ::testing::Test {
 protected:
  // Runs paktool in the temporary directory; arguments are UTF-8. Only
  // standard output is captured: errors must not reach the document.
  CChildResult Run(std::vector<std::string> vecArgs) {
    vecArgs.insert(vecArgs.begin(), "paktool");
    CChildResult result = RunChild(Utf8Path(PAKTOOL_EXE), vecArgs, m_dir.Path(), kTimeoutMs);
    EXPECT_TRUE(result.bEnded) << "paktool did not end";
    return result;
  }
  std::string Ok(const std::vector<std::string>& vecArgs) {
    const CChildResult result = Run(vecArgs);
    EXPECT_EQ(0, result.nExitCode) << vecArgs[0] << " failed:\n" << result.strOutput;
    return result.strOutput;
  }
  fs::path Path(const std::string& strRelUtf8) const { return m_dir.Path() / Utf8Path(strRelUtf8); }

  // A compressed pack below 资源/ with Chinese names, a tagged and an
  // untagged entry, a free block, and a file record the index lacks.
  void WriteSamplePack(const std::string& strRel) const {
    CTestPack pack(Gbk("资源"), true);
    const std::string strTitle = Pattern(900, 1);
    const std::string strMap = Pattern(20000, 2);
    pack.AddEntry(Gbk("资源\\界面\\标题.txt"), Lzma86Encode(strTitle), "0123456789abcdef0123456789abcdef",
                  static_cast<uint32_t>(strTitle.size()));
    pack.AddHole(100);
    pack.AddEntry(Gbk("资源\\地图\\城镇.map"), Lzma86Encode(strMap), "", static_cast<uint32_t>(strMap.size()));
    pack.AddTreeForEntries();
    pack.AddDir(kPackDirKindFile, Gbk("资源\\ghost.txt"));
    pack.WriteTo(Path(strRel));
  }

  CTempDir m_dir;
};

TEST_F(JsonToolTest, ListCarriesWhatTheLongListingShows) {
  WriteSamplePack("p.pak");
  const std::vector<std::string> vecPlain = Lines(Ok({"list", "-r", "--long", "p.pak"}));
  const nlohmann::json document = nlohmann::json::parse(Ok({"list", "-r", "--json", "p.pak"}));
  EXPECT_EQ("p.pak", document["pack"]);
  EXPECT_EQ("资源", document["listed"]);
  EXPECT_EQ("directory", document["kind"]);
  const nlohmann::json& items = document["items"];
  ASSERT_EQ(vecPlain.size(), items.size());
  ASSERT_EQ(5u, items.size()) << "two directories, their files and the ghost record";
  for (size_t i = 0; i < items.size(); ++i) {
    SCOPED_TRACE(vecPlain[i]);
    std::istringstream columns(vecPlain[i]);
    std::string strSize, strStored, strOffset, strTag, strName;
    columns >> strSize >> strStored >> strOffset >> strTag >> strName;
    const nlohmann::json& item = items[i];
    const bool bDir = item["kind"] == "directory";
    EXPECT_EQ(strName, Shown(item["name"].get<std::string>()) + (bDir ? "/" : ""));
    EXPECT_EQ(bDir || strName == Shown("资源/ghost.txt"), !item.contains("size")) << "no entry, no sizes";
    if (!item.contains("size")) {
      EXPECT_EQ("-", strSize);
      continue;
    }
    EXPECT_EQ(strSize, Number(item["size"]));
    EXPECT_EQ(strStored, Number(item["stored_size"]));
    EXPECT_EQ(strOffset, Number(item["offset"]));
    EXPECT_EQ(strTag, item["tag"].is_null() ? "-" : item["tag"].get<std::string>());
  }
  size_t nUntagged = 0;
  for (const nlohmann::json& item : items) {
    if (item["name"] == "资源/地图/城镇.map") nUntagged += item["tag"].is_null();
  }
  EXPECT_EQ(1u, nUntagged) << "城镇.map is listed, with a null tag";

  const nlohmann::json entry = nlohmann::json::parse(Ok({"list", "--json", "p.pak", "界面/标题.txt"}));
  EXPECT_EQ("资源/界面/标题.txt", entry["listed"]);
  EXPECT_EQ("file", entry["kind"]);
  ASSERT_EQ(1u, entry["items"].size());
  EXPECT_EQ(900u, entry["items"][0]["size"]);

  const CChildResult missing = Run({"list", "--json", "p.pak", "nosuch"});
  EXPECT_EQ(1, missing.nExitCode);
  EXPECT_EQ("", missing.strOutput) << "the error goes to standard error only";
}

TEST_F(JsonToolTest, InfoCarriesTheFieldsInfoShows) {
  WriteSamplePack("p.pak");
  std::map<std::string, std::string> mapPlain;
  for (const std::string& strLine : Lines(Ok({"info", "p.pak"}))) {
    const size_t nColon = strLine.find(':');
    mapPlain[strLine.substr(0, nColon)] = strLine.substr(strLine.find_first_not_of(' ', nColon + 1));
  }
  const nlohmann::json info = nlohmann::json::parse(Ok({"info", "--json", "p.pak"}));
  EXPECT_EQ(mapPlain["pack"], info["pack"].get<std::string>());
  EXPECT_EQ(mapPlain["magic"], info["magic"].get<std::string>());
  std::ostringstream version;
  version << info["version"].get<double>();
  EXPECT_EQ(mapPlain["version"], version.str());
  EXPECT_EQ(mapPlain["root name"], Shown(info["root"].get<std::string>()));
  EXPECT_EQ("yes (Lzma86)", mapPlain["compressed"]);
  EXPECT_EQ(true, info["compressed"]);
  EXPECT_EQ(mapPlain["entries"], Number(info["entries"]));
  EXPECT_EQ(mapPlain["directories"], Number(info["directories"]));
  EXPECT_EQ(mapPlain["tree records"], Number(info["tree_records"]));
  EXPECT_EQ("1", Number(info["free_blocks"]));
  EXPECT_EQ(mapPlain["free blocks"], Number(info["free_blocks"]));
  EXPECT_EQ("100 bytes", mapPlain["free bytes"]);
  EXPECT_EQ(mapPlain["free bytes"], Number(info["free_bytes"]) + " bytes");
  const nlohmann::json& holes = info["holes"];
  EXPECT_EQ("100", Number(holes["bytes"]));
  char szShare[32];
  std::snprintf(szShare, sizeof(szShare), "%.1f", holes["share"].get<double>() * 100);
  EXPECT_EQ(mapPlain["holes"], Number(holes["bytes"]) + " bytes (" + szShare + "% of the file)");
  EXPECT_NEAR(100.0 / fs::file_size(Path("p.pak")), holes["share"].get<double>(), 1e-9);
  const nlohmann::json& area = info["data_area"];
  EXPECT_EQ(mapPlain["data area"],
            Number(area["bytes"]) + " bytes (offsets " + Number(area["start"]) + " to " + Number(area["end"]) + ")");
  const nlohmann::json& content = info["content"];
  EXPECT_EQ("20900", Number(content["bytes"]));
  EXPECT_EQ(mapPlain["content"],
            Number(content["bytes"]) + " bytes, " + Number(content["stored_bytes"]) + " bytes stored");
  EXPECT_EQ(fs::file_size(Path("p.pak")), info["file_size"].get<uint64_t>());
  EXPECT_EQ(mapPlain["file size"], Number(info["file_size"]) + " bytes");
}

TEST_F(JsonToolTest, VerifyReportsTheProblemsThePlainOutputNames) {
  CTestPack pack("res", true);
  pack.AddEntry("res\\a.txt", Lzma86Encode(Pattern(4000, 3)).substr(0, 40), "", 4000);
  pack.AddTreeForEntries();
  pack.AddDir(kPackDirKindFile, "res\\ghost.txt");
  pack.WriteTo(Path("bad.pak"));

  const CChildResult plain = Run({"verify", "bad.pak"});
  const CChildResult json = Run({"verify", "--json", "bad.pak"});
  EXPECT_EQ(1, plain.nExitCode);
  EXPECT_EQ(1, json.nExitCode) << "the exit status is the plain output's";
  const nlohmann::json report = nlohmann::json::parse(json.strOutput);
  EXPECT_EQ("bad.pak", report["pack"]);
  EXPECT_EQ(false, report["ok"]);
  EXPECT_TRUE(report["signature"].is_null());
  std::vector<std::string> vecPlain;
  for (const std::string& strLine : Lines(plain.strOutput))
    vecPlain.push_back(strLine.substr(std::strlen("bad.pak: ")));
  EXPECT_EQ(vecPlain, report["problems"].get<std::vector<std::string>>());
  EXPECT_LE(2u, vecPlain.size()) << plain.strOutput;

  const CChildResult missing = Run({"verify", "--json", "missing.pak"});
  EXPECT_EQ(1, missing.nExitCode);
  EXPECT_EQ("", missing.strOutput);
}

TEST_F(JsonToolTest, VerifyWithAKeyReportsTheSignature) {
  // A sound pack to sign (the sample's ghost record is a problem).
  CTestPack pack("res", false);
  pack.AddEntry("res\\a.txt", Pattern(3000, 4));
  pack.AddTreeForEntries();
  pack.WriteTo(Path("update.pak"));
  Ok({"keygen", "发布"});
  Ok({"sign", "update.pak", "--key", "发布.key", "--version", "1.02"});

  const nlohmann::json good = nlohmann::json::parse(Ok({"verify", "update.pak", "--key", "发布.pub", "--json"}));
  PackPublicKey key;
  ASSERT_EQ(PackKeyStatus::kOk, ReadPackPublicKey(ToProgramPath(Path("发布.pub")), key));
  EXPECT_EQ(true, good["ok"]);
  EXPECT_EQ(nlohmann::json::array(), good["problems"]);
  EXPECT_EQ((nlohmann::json{{"status", "good"},
                            {"code", 0},
                            {"version", "1.02"},
                            {"product", std::string(kPackProduct)},
                            {"format", 2},
                            {"key", PackKeyId(key)},
                            {"base", "any"},
                            {"base_release", nullptr},
                            {"release", nullptr},
                            {"remove", nlohmann::json::array()},
                            {"delta", false}}),
            good["signature"]);

  std::string strChanged = ReadFileBytes(Path("update.pak"));
  strChanged[100] ^= 0x01;  // inside the entry: still a sound pack
  WriteFileBytes(Path("update.pak"), strChanged);
  const CChildResult plain = Run({"verify", "update.pak", "--key", "发布.pub"});
  const CChildResult json = Run({"verify", "update.pak", "--key", "发布.pub", "--json"});
  EXPECT_EQ(1, json.nExitCode);
  const nlohmann::json refused = nlohmann::json::parse(json.strOutput);
  EXPECT_EQ(false, refused["ok"]);
  EXPECT_EQ("refused", refused["signature"]["status"]);
  EXPECT_EQ(0x20000007u, refused["signature"]["code"]);
  EXPECT_EQ(plain.strOutput,
            "update.pak: signature refused: " + refused["signature"]["reason"].get<std::string>() + "\n");
}

TEST(PaktoolVersionTest, ToolAndLibraryCarryTheProjectVersion) {
  CTempDir dir;
  const CChildResult result = RunChild(Utf8Path(PAKTOOL_EXE), {"paktool", "--version"}, dir.Path(), kTimeoutMs);
  EXPECT_EQ(0, result.nExitCode);
  EXPECT_EQ(std::string("paktool ") + PATCHLOOM_PROJECT_VERSION + "\n", result.strOutput);
  EXPECT_STREQ(PATCHLOOM_PROJECT_VERSION, PatchloomVersion());
  EXPECT_STREQ(PATCHLOOM_PROJECT_VERSION, kPatchloomVersion);
  EXPECT_EQ(PATCHLOOM_PROJECT_VERSION, std::to_string(PATCHLOOM_VERSION_MAJOR) + "." +
                                           std::to_string(PATCHLOOM_VERSION_MINOR) + "." +
                                           std::to_string(PATCHLOOM_VERSION_PATCH));
}

}  // namespace
