#include "bench/bench_data.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace bench {

namespace {

constexpr uint64_t kMiB = 1024 * 1024;
constexpr uint64_t kPoolLimit = 128 * kMiB;
constexpr uint64_t kPoolFileLimit = 8 * kMiB;

// splitmix64: fast, and good enough for data that must not compress.
class CRandom {
 public:
  explicit CRandom(uint64_t qwSeed) : m_qwState(qwSeed) {}
  uint64_t Next() {
    uint64_t z = (m_qwState += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  double Unit() { return static_cast<double>(Next() >> 11) / 9007199254740992.0; }
  // Sizes spread evenly over orders of magnitude, as files are.
  uint64_t LogUniform(uint64_t qwMin, uint64_t qwMax) {
    return static_cast<uint64_t>(std::exp(std::log(double(qwMin)) + Unit() * std::log(double(qwMax) / qwMin)));
  }

 private:
  uint64_t m_qwState;
};

const char* const kDirs[] = {"ui", "maps", "sound", "data", "scripts", "models", "textures", "bin"};
const char* const kSubDirs[] = {"common", "town", "forest", "desert", "dungeon", "sea", "sky", "misc"};

const char* Extension(Kind kind, uint64_t qwPick) {
  static const char* const kText[] = {".txt", ".ini", ".lua"};
  static const char* const kCode[] = {".dll", ".exe", ".bin"};
  static const char* const kNoise[] = {".dds", ".ogg", ".dat"};
  const char* const* ppszNames = kind == Kind::kText ? kText : kind == Kind::kCode ? kCode : kNoise;
  return ppszNames[qwPick % 3];
}

Kind PickKind(CRandom& random) {
  const double d = random.Unit();
  return d < 0.35 ? Kind::kText : d < 0.75 ? Kind::kCode : Kind::kNoise;
}

std::string RelPath(size_t nIndex, Kind kind, CRandom& random) {
  const uint64_t qw = random.Next();
  char szName[32];
  std::snprintf(szName, sizeof(szName), "f%05zu", nIndex);
  return std::string(kDirs[qw % 8]) + "/" + kSubDirs[(qw >> 8) % 8] + "/" + szName + Extension(kind, qw >> 16);
}

CTree PlanTree(uint64_t qwSeed, size_t nFiles, uint64_t qwMinSize, uint64_t qwMaxSize, uint64_t qwAtLeast) {
  CTree tree;
  CRandom random(qwSeed);
  uint64_t qwBytes = 0;
  for (size_t i = 0; i < nFiles || qwBytes < qwAtLeast; ++i) {
    const Kind kind = PickKind(random);
    CFilePlan plan{RelPath(i, kind, random), kind, random.LogUniform(qwMinSize, qwMaxSize), random.Next()};
    qwBytes += plan.qwSize;
    tree.vecFiles.push_back(std::move(plan));
  }
  return tree;
}

// Words of a made-up language, drawn with a skew so that some are common,
// in lines of text and key = value settings: compresses about as well as
// game scripts and configuration do.
std::string MakeText(size_t nSize, uint64_t qwSeed) {
  static const std::vector<std::string> s_vecWords = [] {
    static const char* const kSyllables[] = {"ka", "lo", "mi", "ra", "en", "to", "sh", "ur", "vel", "do",
                                             "an", "ir", "qu", "ze", "th", "ol", "ba", "ne", "si", "gu"};
    CRandom random(7);
    std::vector<std::string> vec;
    for (int i = 0; i < 4096; ++i) {
      std::string strWord;
      for (uint64_t n = 1 + random.Next() % 4; n > 0; --n) strWord += kSyllables[random.Next() % 20];
      vec.push_back(strWord);
    }
    return vec;
  }();
  CRandom random(qwSeed);
  std::string str;
  str.reserve(nSize + 128);
  while (str.size() < nSize) {
    if (random.Next() % 4 == 0) {
      str += s_vecWords[random.Next() % 256] + "_" + std::to_string(random.Next() % 100) + " = " +
             std::to_string(random.Next() % 100000) + "\r\n";
      continue;
    }
    for (uint64_t n = 4 + random.Next() % 10; n > 0; --n) {
      const double d = random.Unit();
      str += s_vecWords[static_cast<size_t>(d * d * d * s_vecWords.size())];
      str += n > 1 ? ' ' : '.';
    }
    str += "\r\n";
  }
  str.resize(nSize);
  return str;
}

std::string MakeNoise(size_t nSize, uint64_t qwSeed) {
  CRandom random(qwSeed);
  std::string str(nSize, '\0');
  size_t i = 0;
  for (; i + 8 <= nSize; i += 8) {
    const uint64_t qw = random.Next();
    std::memcpy(&str[i], &qw, 8);
  }
  for (; i < nSize; ++i) str[i] = static_cast<char>(random.Next());
  return str;
}

bool IsElf(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  char szMagic[4] = {};
  return in.read(szMagic, 4) && std::string(szMagic, 4) == "\x7f" "ELF";
}

std::string ReadHead(const fs::path& path, uint64_t qwMax) {
  std::ifstream in(path, std::ios::binary);
  std::string str(static_cast<size_t>(std::min<uint64_t>(qwMax, fs::file_size(path))), '\0');
  in.read(&str[0], static_cast<std::streamsize>(str.size()));
  str.resize(static_cast<size_t>(in.gcount()));
  return str;
}

}  // namespace

uint64_t CTree::Bytes() const {
  uint64_t qw = 0;
  for (const CFilePlan& plan : vecFiles) qw += plan.qwSize;
  return qw;
}

uint64_t CTree::Largest() const {
  uint64_t qw = 0;
  for (const CFilePlan& plan : vecFiles) qw = std::max(qw, plan.qwSize);
  return qw;
}

CCodePool::CCodePool() {
  for (const char* pszDir : {"/usr/lib/x86_64-linux-gnu", "/usr/bin"}) {
    std::vector<fs::path> vecFiles;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(pszDir, error)) {
      if (entry.is_regular_file() && !entry.is_symlink() && entry.file_size() >= 65536) vecFiles.push_back(entry.path());
    }
    std::sort(vecFiles.begin(), vecFiles.end());
    for (const fs::path& path : vecFiles) {
      if (m_strBytes.size() >= kPoolLimit) return;
      if (IsElf(path)) m_strBytes += ReadHead(path, std::min(kPoolFileLimit, kPoolLimit - m_strBytes.size()));
    }
  }
  if (m_strBytes.size() < 8 * kMiB) throw std::runtime_error("less than 8 MiB of x86 binaries found on the system");
}

std::string CCodePool::Slice(uint64_t qwFrom, size_t nSize) const {
  std::string str;
  str.reserve(nSize);
  uint64_t qwPos = qwFrom % m_strBytes.size();
  while (str.size() < nSize) {
    const size_t nTake = static_cast<size_t>(std::min<uint64_t>(nSize - str.size(), m_strBytes.size() - qwPos));
    str.append(m_strBytes, static_cast<size_t>(qwPos), nTake);
    qwPos = 0;
  }
  return str;
}

CTree PlanClientTree() {
  CTree tree = PlanTree(1, 3000, 1024, 2 * kMiB, 1024 * kMiB + 64 * kMiB);
  for (size_t i = 0; i < 4; ++i) {
    tree.vecFiles.push_back({std::string("maps/world/region") + std::to_string(i) + ".bin", Kind::kCode, 8 * kMiB,
                             1000 + i});
  }
  return tree;
}

CTree PlanBuildTree() { return PlanTree(2, 2000, 256, 128 * 1024, 0); }

CTree PlanUpdate(const CTree& client) {
  // The largest entry, then every hundredth file while the update stays
  // within 1% of the client's bytes.
  const std::vector<CFilePlan>& vecFiles = client.vecFiles;
  const size_t nLargest = static_cast<size_t>(
      std::max_element(vecFiles.begin(), vecFiles.end(),
                       [](const CFilePlan& a, const CFilePlan& b) { return a.qwSize < b.qwSize; }) -
      vecFiles.begin());
  const uint64_t qwBudget = client.Bytes() / 100;
  CTree update;
  update.vecFiles.push_back(vecFiles[nLargest]);
  uint64_t qwBytes = vecFiles[nLargest].qwSize;
  for (size_t i = 50; i < vecFiles.size(); i += 100) {
    CFilePlan plan = vecFiles[i];
    if (i % 3 == 1) plan.qwSize = plan.qwSize * 4 / 5;
    if (i % 3 == 2) plan.qwSize = plan.qwSize * 5 / 4;
    if (i == nLargest || qwBytes + plan.qwSize > qwBudget) continue;
    qwBytes += plan.qwSize;
    update.vecFiles.push_back(plan);
  }
  for (CFilePlan& plan : update.vecFiles) plan.qwSeed = plan.qwSeed * 31 + 17;  // new content, same kind
  return update;
}

CTree PlanChurnClient() { return PlanTree(3, 400, 1024, kMiB, 60 * kMiB); }

CTree PlanChurnUpdate(const CTree& current, unsigned nRound) {
  CRandom random(1000003ull * nRound);
  CTree update;
  for (const CFilePlan& file : current.vecFiles) {
    if (random.Unit() >= 0.07) continue;
    CFilePlan plan = file;
    const double dChange = 0.1 + 0.4 * random.Unit();
    switch (update.vecFiles.size() % 3) {
      case 0:
        plan.qwSize = static_cast<uint64_t>(static_cast<double>(plan.qwSize) * (1 + dChange));
        break;
      case 1:
        plan.qwSize = std::max<uint64_t>(1, static_cast<uint64_t>(static_cast<double>(plan.qwSize) * (1 - dChange)));
        break;
      default:
        break;
    }
    plan.qwSeed = random.Next();
    update.vecFiles.push_back(plan);
  }
  return update;
}

void WriteTree(const CTree& tree, const fs::path& root, const CCodePool& pool, uint64_t qwCodeFrom) {
  uint64_t qwCodePos = qwCodeFrom;
  for (const CFilePlan& plan : tree.vecFiles) {
    const fs::path path = root / plan.strRel;
    fs::create_directories(path.parent_path());
    const size_t nSize = static_cast<size_t>(plan.qwSize);
    std::string strBytes;
    switch (plan.kind) {
      case Kind::kText:
        strBytes = MakeText(nSize, plan.qwSeed);
        break;
      case Kind::kCode:
        strBytes = pool.Slice(qwCodePos + plan.qwSeed % 4096, nSize);
        qwCodePos += nSize;
        break;
      case Kind::kNoise:
        strBytes = MakeNoise(nSize, plan.qwSeed);
        break;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out.write(strBytes.data(), static_cast<std::streamsize>(strBytes.size()))) {
      throw std::runtime_error("cannot write " + path.string());
    }
  }
}

void WriteConcatenation(const CTree& tree, const fs::path& root, const fs::path& file) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  for (const CFilePlan& plan : tree.vecFiles) {
    std::ifstream in(root / plan.strRel, std::ios::binary);
    out << in.rdbuf();
  }
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

}  // namespace bench
