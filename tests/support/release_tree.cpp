#include "tests/support/release_tree.h"

#include <random>
#include <stdexcept>
#include <vector>

#include "platform/cp936.h"
#include "tests/support/pack_writer.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

const char* const kDirs[] = {"ui", "地图/城镇", "bin"};

std::string Text(size_t nSize, std::mt19937& random) {
  static const char* const kWords[] = {"gate ", "北门 ", "quest ", "level\r\n", "金币 "};
  std::string str;
  while (str.size() < nSize) str += kWords[random() % 5];
  str.resize(nSize);
  return str;
}

// Text or random bytes, now and then nothing at all.
std::string Content(size_t nSize, std::mt19937& random) {
  if (random() % 2 == 0) return Text(nSize, random);
  return RandomBytes(nSize, static_cast<unsigned>(random()));
}

size_t RandomSize(std::mt19937& random) {
  switch (random() % 5) {
    case 0:
      return 0;
    case 1:
      return random() % 64;
    default:
      return 100 + random() % 20000;
  }
}

std::string NewName(const std::string& strDir, std::mt19937& random) {
  const unsigned nNumber = static_cast<unsigned>(random() % 100000);
  const std::string strFile =
      random() % 2 ? "文件" + std::to_string(nNumber) + ".dat" : "f" + std::to_string(nNumber) + ".txt";
  return strDir.empty() ? strFile : strDir + "/" + strFile;
}

}  // namespace

ReleaseFiles FirstRelease(unsigned nSeed) {
  std::mt19937 random(nSeed);
  ReleaseFiles files;
  for (const char* pszDir : kDirs) {
    for (int i = 0; i < 4; ++i) files[NewName(pszDir, random)] = Content(RandomSize(random), random);
  }
  files["readme.txt"] = Text(300, random);
  return files;
}

ReleaseFiles NextRelease(const ReleaseFiles& previous, unsigned nSeed) {
  std::mt19937 random(nSeed);
  ReleaseFiles files = previous;
  // About a third of the files change: larger, smaller, or the same size.
  int nKind = 0;
  for (auto& item : files) {
    if (random() % 3 != 0) continue;
    const size_t nOld = item.second.size();
    const size_t nSizes[] = {nOld + 1 + nOld / 2 + random() % 5000, nOld / 2, nOld};
    const size_t nNew = nSizes[nKind++ % 3];
    std::string strNew = Content(nNew, random);
    if (strNew == item.second && nNew > 0) strNew[0] = static_cast<char>(strNew[0] ^ 1);
    item.second = strNew;
  }
  // New files: in existing directories, in a new directory (loose files for
  // a client of the previous release), below the root, and an empty one.
  const std::string strNewDir = (random() % 2 ? "新目录" : "extra") + std::to_string(nSeed % 1000);
  files[NewName(kDirs[random() % 3], random)] = Content(RandomSize(random), random);
  files[NewName(kDirs[random() % 3], random)] = Content(100 + random() % 30000, random);
  files[NewName(strNewDir, random)] = Content(RandomSize(random), random);
  files[NewName(strNewDir + "/子目录", random)] = Content(RandomSize(random), random);
  files[NewName("", random)] = Text(50, random);
  files[NewName(kDirs[0], random)] = "";
  return files;
}

ReleaseFiles NextReleaseWithRemovals(const ReleaseFiles& previous, unsigned nSeed) {
  std::mt19937 random(nSeed ^ 0x5eed);
  ReleaseFiles files = NextRelease(previous, nSeed);
  // A few files of the previous release go, a few move to another directory
  // with their content, and now and then a whole directory goes.
  std::vector<std::string> vecOld;
  for (const auto& item : previous) vecOld.push_back(item.first);
  const std::string strGoneDir = vecOld[random() % vecOld.size()];
  const bool bWholeDir = random() % 2 == 0 && strGoneDir.find('/') != std::string::npos;
  const std::string strPrefix = strGoneDir.substr(0, strGoneDir.rfind('/') + 1);
  for (const std::string& strName : vecOld) {
    const unsigned nDraw = static_cast<unsigned>(random() % 8);
    if (bWholeDir && strName.compare(0, strPrefix.size(), strPrefix) == 0) {
      files.erase(strName);
    } else if (nDraw == 0) {
      files.erase(strName);
    } else if (nDraw == 1 && files.count(strName) != 0) {
      files[NewName(kDirs[random() % 3], random)] = files[strName];
      files.erase(strName);
    }
  }
  return files;
}

void WriteRelease(const ReleaseFiles& files, const fs::path& root) {
  for (const auto& item : files) {
    const fs::path path = root / Utf8Path(item.first);
    fs::create_directories(path.parent_path());
    WriteFileBytes(path, item.second);
  }
  fs::create_directories(root);
}

ReleaseFiles TreeContent(const fs::path& root) {
  ReleaseFiles files;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    if (item.is_regular_file()) files[fs::relative(item.path(), root).generic_u8string()] = ReadFileBytes(item.path());
  }
  return files;
}

ReleaseFiles PackContent(const fs::path& pack) {
  const CTestPack parsed = CTestPack::ReadFrom(pack);
  ReleaseFiles files;
  for (const PackEntry& entry : parsed.vecEntries) {
    std::string strName;
    if (!Cp936ToUtf8(FieldString(entry.szName, kPackNameSize), strName)) throw std::runtime_error("bad entry name");
    for (char& ch : strName) {
      if (ch == '\\') ch = '/';
    }
    const std::string strStored = parsed.StoredBytes(entry);
    files[strName.substr(strName.find('/') + 1)] =
        parsed.header.byCompressed ? Lzma86Decode(strStored, entry.dwOrigSize) : strStored;
  }
  return files;
}

std::string EntryNameOf(const std::string& strRoot, const std::string& strRelUtf8) {
  std::string strName = Gbk(strRoot + "/" + strRelUtf8);
  for (char& ch : strName) {
    if (ch == '/') ch = '\\';
  }
  return strName;
}
