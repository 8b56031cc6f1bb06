// Lzma86 codec: interoperability with the reference lzma_alone utility,
// the fixed header, and every failure path of the decoder.
#include <gtest/gtest.h>
#include <lzma.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

#include "tests/support/temp_dir.h"
#include "tools/filepacktools_lib/packcodec.h"

namespace {

constexpr size_t kGuardSize = 64;
constexpr char kGuardByte = '\xA5';

const unsigned char* U(const std::string& str) {
  return reinterpret_cast<const unsigned char*>(str.data());
}

std::string TextBytes() {
  std::string str;
  for (int i = 0; i < 4000; ++i)
    str += "entry " + std::to_string(i * 7919 % 1000) + ": patch applied to data/file.pak\n";
  return str;
}

// A real x86 binary: the branch converter only matters on E8/E9 bytes.
std::string ElfBytes() {
  for (const char* pszPath : {"/usr/lib/x86_64-linux-gnu/libstdc++.so.6", "/proc/self/exe"}) {
    std::ifstream in(pszPath, std::ios::binary);
    if (!in) continue;
    std::string str(3 << 20, '\0');
    in.read(&str[0], static_cast<std::streamsize>(str.size()));
    str.resize(static_cast<size_t>(in.gcount()));
    if (str.size() > 4096 && str.compare(0, 4, "\177ELF") == 0) return str;
  }
  ADD_FAILURE() << "no ELF binary found";
  return std::string();
}

std::string Compress(const std::string& strIn) {
  const uint32_t dwIn = static_cast<uint32_t>(strIn.size());
  // Guard-filled so a header byte left unwritten shows.
  std::string strOut(Lzma86CompressBound(dwIn), kGuardByte);
  uint32_t dwLen = static_cast<uint32_t>(strOut.size());
  EXPECT_EQ(kLzmaOk,
            LzmaCompress(U(strIn), dwIn, reinterpret_cast<unsigned char*>(&strOut[0]), &dwLen, -1));
  strOut.resize(dwLen);
  return strOut;
}

struct SDecoded {
  int nCode;
  std::string strOut;
};

// Decodes into a buffer followed by a guard region that must stay intact.
SDecoded Decode(const std::string& strStream, uint32_t dwSize) {
  std::string strBuf(dwSize + kGuardSize, kGuardByte);
  uint32_t dwLen = dwSize;
  const int nCode = LzmaUncompress(U(strStream), static_cast<uint32_t>(strStream.size()),
                                   reinterpret_cast<unsigned char*>(&strBuf[0]), &dwLen);
  EXPECT_EQ(strBuf.substr(dwSize), std::string(kGuardSize, kGuardByte)) << "wrote past capacity";
  EXPECT_LE(dwLen, dwSize);
  strBuf.resize(std::min(dwLen, dwSize));
  return {nCode, strBuf};
}

uint64_t HeaderSize(const std::string& strStream) {
  uint64_t qwSize = 0;
  for (int i = 7; i >= 0; --i) qwSize = qwSize << 8 | U(strStream)[kLzma86SizeOffset + i];
  return qwSize;
}

void SetDict(std::string* pStream, uint32_t dwDict) {
  for (int i = 0; i < 4; ++i)
    (*pStream)[kLzma86PropsOffset + 1 + i] = static_cast<char>(dwDict >> (8 * i));
}

TEST(LzmaFormat, HeaderIsFixedAndStreamsRoundTrip) {
  const std::string strText = TextBytes();
  const std::string strStream = Compress(strText);
  EXPECT_EQ(strStream.substr(0, 6), std::string("\x01\x5D\x00\x00\x80\x00", 6));
  EXPECT_EQ(HeaderSize(strStream), strText.size());
  EXPECT_LT(strStream.size(), strText.size() / 4);
  EXPECT_EQ(strStream, Compress(strText)) << "output must be deterministic";

  for (const std::string& strIn : {strText, std::string(), std::string("x")}) {
    const std::string strOwn = Compress(strIn);
    const SDecoded decoded = Decode(strOwn, static_cast<uint32_t>(strIn.size()));
    EXPECT_EQ(kLzmaOk, decoded.nCode) << strIn.size();
    EXPECT_TRUE(strIn == decoded.strOut);
  }
}

TEST(LzmaFormat, IncompressibleInputFitsCallerBound) {
  const std::string strRandom = RandomBytes(65536, 1);
  const std::string strStream = Compress(strRandom);
  EXPECT_GT(strStream.size(), strRandom.size());
  EXPECT_TRUE(strRandom == Decode(strStream, 65536).strOut);
}

// 2n+100 as long as it fits 32 bits; never a wrapped, too small capacity.
TEST(LzmaFormat, CompressBoundClampsInsteadOfWrapping) {
  EXPECT_EQ(100u, Lzma86CompressBound(0));
  EXPECT_EQ(0xFFFFFFFEu, Lzma86CompressBound(0x7FFFFFCDu));
  EXPECT_EQ(UINT32_MAX, Lzma86CompressBound(0x7FFFFFCEu));
  EXPECT_EQ(UINT32_MAX, Lzma86CompressBound(UINT32_MAX));
}

// Flag 0 means no x86 step; the stream's own lc/lp/pb and dictionary apply,
// and an end marker after the known size is accepted.
TEST(LzmaFormat, FilterFlagZeroStreamUsesItsOwnProperties) {
  const std::string strElf = ElfBytes();
  lzma_options_lzma opt;
  ASSERT_FALSE(lzma_lzma_preset(&opt, 1));
  opt.lc = 1;
  opt.lp = 2;
  opt.pb = 1;
  opt.dict_size = 1 << 20;
  const lzma_filter filters[] = {{LZMA_FILTER_LZMA1, &opt}, {LZMA_VLI_UNKNOWN, nullptr}};
  std::string strStream(kLzma86HeaderSize + strElf.size() * 2 + 100, '\0');
  size_t nPos = kLzma86HeaderSize;
  ASSERT_EQ(LZMA_OK, lzma_raw_buffer_encode(filters, nullptr, U(strElf), strElf.size(),
                                            reinterpret_cast<unsigned char*>(&strStream[0]), &nPos,
                                            strStream.size()));
  strStream.resize(nPos);
  strStream[0] = kLzma86FilterNone;
  strStream[kLzma86PropsOffset] = static_cast<char>((1 * 5 + 2) * 9 + 1);
  SetDict(&strStream, opt.dict_size);
  const SDecoded decoded = Decode(strStream, static_cast<uint32_t>(strElf.size()));
  EXPECT_EQ(kLzmaOk, decoded.nCode);
  EXPECT_TRUE(decoded.strOut == strElf);
}

TEST(LzmaErrors, CompressCapacityTooSmall) {
  const std::string strText = TextBytes();
  const size_t nFull = Compress(strText).size();
  for (uint32_t dwCap : {0u, 13u, 14u, 20u, static_cast<uint32_t>(nFull - 1)}) {
    std::string strBuf(dwCap + kGuardSize, kGuardByte);
    uint32_t dwLen = dwCap;
    EXPECT_EQ(kLzmaErrorOutputEof,
              LzmaCompress(U(strText), static_cast<uint32_t>(strText.size()),
                           reinterpret_cast<unsigned char*>(&strBuf[0]), &dwLen, -1));
    EXPECT_EQ(dwCap < kLzma86HeaderSize ? 0u : kLzma86HeaderSize, dwLen) << dwCap;
    EXPECT_EQ(strBuf.substr(dwCap), std::string(kGuardSize, kGuardByte)) << dwCap;
  }
}

TEST(LzmaErrors, BadHeaders) {
  const std::string strText = TextBytes();
  const uint32_t dwSize = static_cast<uint32_t>(strText.size());
  const std::string strStream = Compress(strText);
  EXPECT_EQ(kLzmaErrorInputEof, Decode(strStream.substr(0, 13), dwSize).nCode);

  std::string strBad = strStream;
  strBad[0] = 2;
  const SDecoded flag = Decode(strBad, dwSize);
  EXPECT_EQ(kLzmaErrorUnsupported, flag.nCode);
  EXPECT_TRUE(flag.strOut.empty());

  for (char chProps : {'\xE1', '\xFF'}) {
    strBad = strStream;
    strBad[kLzma86PropsOffset] = chProps;
    EXPECT_EQ(kLzmaErrorData, Decode(strBad, dwSize).nCode);
  }
}

TEST(LzmaErrors, DamagedStreamsFailWithinBounds) {
  const std::string strText = TextBytes();
  const uint32_t dwSize = static_cast<uint32_t>(strText.size());
  const std::string strStream = Compress(strText);
  for (size_t nCut : {size_t{14}, size_t{16}, strStream.size() / 2, strStream.size() - 1}) {
    const int nCode = Decode(strStream.substr(0, nCut), dwSize).nCode;
    EXPECT_TRUE(nCode == kLzmaErrorInputEof || nCode == kLzmaErrorData) << nCut << " -> " << nCode;
  }
  EXPECT_NE(kLzmaOk, Decode(strStream, dwSize + 1).nCode) << "asked for more than the stream holds";

  std::mt19937 random(7);
  for (int i = 0; i < 200; ++i) {
    std::string strBad = strStream;
    const size_t nPos = kLzma86HeaderSize + random() % (strBad.size() - kLzma86HeaderSize);
    strBad[nPos] = static_cast<char>(strBad[nPos] ^ (1 << (random() % 8)));
    Decode(strBad, dwSize);  // any result, but within bounds
  }
}

// The best compression there is (one long run) stays inside the bound, and
// a claim beyond the bound is refused before any decoding.
TEST(LzmaBound, TheLongestRunDecodesAndLargerClaimsFail) {
  const std::string strZeros(16 << 20, '\0');
  std::string strStream(strZeros.size() / 1000, '\0');
  uint32_t dwLen = static_cast<uint32_t>(strStream.size());
  ASSERT_EQ(kLzmaOk, LzmaCompress(U(strZeros), static_cast<uint32_t>(strZeros.size()),
                                  reinterpret_cast<unsigned char*>(&strStream[0]), &dwLen, -1));
  strStream.resize(dwLen);
  EXPECT_GT(strZeros.size() / strStream.size(), 6000u) << "not the best case any more";
  EXPECT_LE(strZeros.size(), Lzma86MaxPlainSize(dwLen));
  EXPECT_EQ(kLzmaOk, Decode(strStream, static_cast<uint32_t>(strZeros.size())).nCode);

  const std::string strTiny = strStream.substr(0, 20);
  unsigned char byOut[16];
  uint32_t dwClaim = static_cast<uint32_t>(Lzma86MaxPlainSize(20) + 1);
  EXPECT_EQ(kLzmaErrorData, LzmaUncompress(U(strTiny), 20, byOut, &dwClaim));  // never touches byOut
  EXPECT_EQ(0u, dwClaim);
}

#ifndef _WIN32
uint64_t VirtualSize() {
  std::ifstream in("/proc/self/status");
  std::string strKey;
  uint64_t qwKb = 0;
  while (in >> strKey) {
    if (strKey == "VmSize:" && in >> qwKb) return qwKb * 1024;
  }
  return 0;
}

// A child limited to 1 GiB more address space than it has must still decode
// a stream claiming a 4 GiB dictionary: the claim is never allocated. A claim
// of 0 is raised to the 4 KiB minimum.
TEST(LzmaErrors, DictionaryClaimIsClamped) {
  const std::string strText = TextBytes().substr(0, 4096);
  std::string strTiny = Compress(strText);
  std::string strHuge = strTiny;
  SetDict(&strTiny, 0);
  SetDict(&strHuge, 0xFFFFFFFFu);
  const pid_t pid = fork();
  ASSERT_NE(-1, pid);
  if (pid == 0) {
    const uint64_t qwVm = VirtualSize();
    const rlimit limit{qwVm + (uint64_t{1} << 30), qwVm + (uint64_t{1} << 30)};
    if (qwVm == 0 || setrlimit(RLIMIT_AS, &limit) != 0) _exit(3);
    const SDecoded tiny = Decode(strTiny, 4096);
    const SDecoded huge = Decode(strHuge, 4096);
    const bool bOk = tiny.nCode == kLzmaOk && tiny.strOut == strText && huge.nCode == kLzmaOk &&
                     huge.strOut == strText;
    _exit(bOk ? 0 : 1);
  }
  int nStatus = 0;
  ASSERT_EQ(pid, waitpid(pid, &nStatus, 0));
  ASSERT_TRUE(WIFEXITED(nStatus)) << "child died with signal " << WTERMSIG(nStatus);
  EXPECT_EQ(0, WEXITSTATUS(nStatus)) << "decode failed under the address-space limit";
}

// Runs lzma_alone as a child process, its output silenced.
int RunLzmaAlone(const std::vector<std::string>& vecArgs) {
  std::vector<char*> vecArgv{const_cast<char*>("lzma_alone")};
  for (const std::string& str : vecArgs) vecArgv.push_back(const_cast<char*>(str.c_str()));
  vecArgv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int nErr = posix_spawnp(&pid, "lzma_alone", &actions, nullptr, vecArgv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (nErr != 0) return -1;
  int nStatus = 0;
  if (waitpid(pid, &nStatus, 0) != pid || !WIFEXITED(nStatus)) return -1;
  return WEXITSTATUS(nStatus);
}

bool OnPath(const std::string& strName) {
  const char* pszPath = std::getenv("PATH");
  std::string strDirs = pszPath ? pszPath : "";
  for (size_t nStart = 0; nStart <= strDirs.size();) {
    size_t nEnd = strDirs.find(':', nStart);
    if (nEnd == std::string::npos) nEnd = strDirs.size();
    const std::string strFile = strDirs.substr(nStart, nEnd - nStart) + "/" + strName;
    if (access(strFile.c_str(), X_OK) == 0) return true;
    nStart = nEnd + 1;
  }
  return false;
}

class LzmaInterop : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(OnPath("lzma_alone"))
        << "lzma_alone is not on PATH; install the Debian package lzma-alone";
    m_vecSamples = {{"elf", ElfBytes()},
                    {"text", TextBytes()},
                    {"random", RandomBytes(100000, 2)},
                    {"empty", std::string()},
                    {"one", std::string("\xE8", 1)}};
  }
  std::string File(const std::string& strName) const { return (m_dir.Path() / strName).string(); }

  CTempDir m_dir;
  std::vector<std::pair<std::string, std::string>> m_vecSamples;
};

TEST_F(LzmaInterop, OurStreamsDecodeWithPeer) {
  for (const auto& [strName, strData] : m_vecSamples) {
    const std::string strStream = Compress(strData);
    WriteFileBytes(File(strName + ".86"), strStream);
    ASSERT_EQ(0, RunLzmaAlone({"d", File(strName + ".86"), File(strName + ".out"), "-f86"}))
        << strName;
    EXPECT_TRUE(ReadFileBytes(File(strName + ".out")) == strData) << strName;

    if (strName != "elf") continue;
    // Without the x86 step the payload must not be the original bytes,
    // else the sample never exercised the branch converter.
    std::string strNoFilter = strStream;
    strNoFilter[0] = kLzma86FilterNone;
    EXPECT_FALSE(Decode(strNoFilter, static_cast<uint32_t>(strData.size())).strOut == strData);
  }
}

TEST_F(LzmaInterop, PeerStreamsDecodeWithOurs) {
  for (const auto& [strName, strData] : m_vecSamples) {
    WriteFileBytes(File(strName), strData);
    ASSERT_EQ(0, RunLzmaAlone({"e", File(strName), File(strName + ".86"), "-f86+"})) << strName;
    const std::string strStream = ReadFileBytes(File(strName + ".86"));
    ASSERT_GE(strStream.size(), kLzma86HeaderSize) << strName;
    EXPECT_EQ(kLzma86FilterX86, strStream[0]) << strName;
    ASSERT_EQ(strData.size(), HeaderSize(strStream)) << strName;
    const SDecoded decoded = Decode(strStream, static_cast<uint32_t>(strData.size()));
    EXPECT_EQ(kLzmaOk, decoded.nCode) << strName;
    EXPECT_TRUE(decoded.strOut == strData) << strName;
  }
}
#endif

}  // namespace
