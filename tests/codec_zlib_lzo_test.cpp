// zlib and LZO1X entry codecs: round trips, zlib's error codes, and the
// bounded LZO decoder on hostile input.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tools/filepacktools_lib/packcodec.h"

namespace {

constexpr size_t kGuardSize = 64;
constexpr char kGuardByte = '\x5A';

const unsigned char* U(const std::string& str) {
  return reinterpret_cast<const unsigned char*>(str.data());
}
unsigned char* U(std::string& str) { return reinterpret_cast<unsigned char*>(&str[0]); }
uint32_t Len(const std::string& str) { return static_cast<uint32_t>(str.size()); }

std::string TextBytes() {
  std::string str;
  for (int i = 0; i < 3000; ++i) str += "file " + std::to_string(i % 97) + " moved to data/pak/\n";
  return str;
}

std::vector<std::string> Samples() {
  return {TextBytes(), RandomBytes(50000, 3), std::string(), std::string("z")};
}

std::string Guard() { return std::string(kGuardSize, kGuardByte); }

std::string Zlib(const std::string& strIn, int nLevel) {
  std::string strOut(compressBound(Len(strIn)), '\0');
  uint32_t dwLen = Len(strOut);
  EXPECT_EQ(Z_OK, ZlibCompress(U(strIn), Len(strIn), U(strOut), &dwLen, nLevel));
  strOut.resize(dwLen);
  return strOut;
}

std::string Lzo(const std::string& strIn) {
  const size_t nBound = static_cast<size_t>(LzoCompressBound(Len(strIn)));
  std::string strOut(nBound + kGuardSize, kGuardByte);
  const int nLen = LzoCompress(U(strIn), Len(strIn), U(strOut));
  EXPECT_GT(nLen, 0);
  EXPECT_EQ(Guard(), strOut.substr(nBound)) << "wrote past the bound";
  strOut.resize(static_cast<size_t>(std::max(nLen, 0)));
  return strOut;
}

// Decodes into exactly dwCap bytes followed by a guard region.
int LzoDecode(const std::string& strIn, uint32_t dwCap, std::string* pOut) {
  std::string strBuf(dwCap + kGuardSize, kGuardByte);
  // An exact-size copy lets the sanitizer see any read past the input.
  const std::vector<unsigned char> vecIn(strIn.begin(), strIn.end());
  const int nLen = LzoUncompress(vecIn.data(), Len(strIn), U(strBuf), dwCap);
  EXPECT_EQ(Guard(), strBuf.substr(dwCap)) << "wrote past capacity";
  if (pOut && nLen >= 0) *pOut = strBuf.substr(0, static_cast<size_t>(nLen));
  return nLen;
}

TEST(Zlib, RoundTripsAtEveryLevel) {
  for (const std::string& strIn : Samples()) {
    for (int nLevel : {-1, 0, 1, 9}) {
      const std::string strPacked = Zlib(strIn, nLevel);
      std::string strOut(strIn.size(), '\0');
      uint32_t dwLen = Len(strOut);
      EXPECT_EQ(Z_OK, ZlibUncompress(U(strPacked), Len(strPacked), U(strOut), &dwLen));
      EXPECT_EQ(strIn.size(), dwLen);
      EXPECT_TRUE(strOut == strIn) << strIn.size() << " level " << nLevel;
    }
  }
}

TEST(Zlib, ReportsZlibCodes) {
  const std::string strText = TextBytes();
  const std::string strPacked = Zlib(strText, -1);
  std::string strOut(strPacked.size() / 2, '\0');
  uint32_t dwLen = Len(strOut);
  EXPECT_EQ(Z_BUF_ERROR, ZlibCompress(U(strText), Len(strText), U(strOut), &dwLen, -1));

  strOut.assign(strText.size() - 1, '\0');
  dwLen = Len(strOut);
  EXPECT_EQ(Z_BUF_ERROR, ZlibUncompress(U(strPacked), Len(strPacked), U(strOut), &dwLen));

  std::string strBad = strPacked;
  strBad[0] = 0;
  strOut.assign(strText.size(), '\0');
  dwLen = Len(strOut);
  EXPECT_EQ(Z_DATA_ERROR, ZlibUncompress(U(strBad), Len(strBad), U(strOut), &dwLen));
}

TEST(Lzo, RoundTripsWithinBound) {
  for (const std::string& strIn : Samples()) {
    const std::string strPacked = Lzo(strIn);
    EXPECT_LE(strPacked.size(), LzoCompressBound(Len(strIn)));
    std::string strOut;
    EXPECT_EQ(static_cast<int>(strIn.size()), LzoDecode(strPacked, Len(strIn), &strOut));
    EXPECT_TRUE(strOut == strIn) << strIn.size();
  }
}

TEST(Lzo, HostileInputFailsWithinBounds) {
  const std::string strText = TextBytes();
  const std::string strPacked = Lzo(strText);
  EXPECT_EQ(-1, LzoDecode(strPacked, Len(strText) - 1, nullptr)) << "capacity too small";
  EXPECT_EQ(-1, LzoDecode(strPacked + '\0', Len(strText), nullptr)) << "trailing input";
  EXPECT_EQ(-1, LzoDecode(RandomBytes(4000, 4), Len(strText), nullptr));
  for (size_t nCut = 0; nCut < strPacked.size(); nCut += 1 + nCut / 8)
    EXPECT_EQ(-1, LzoDecode(strPacked.substr(0, nCut), Len(strText), nullptr)) << nCut;

  std::mt19937 random(5);
  for (int i = 0; i < 300; ++i) {
    std::string strBad = strPacked;
    strBad[random() % strBad.size()] ^= static_cast<char>(1 << (random() % 8));
    LzoDecode(strBad, Len(strText), nullptr);  // any result, but within bounds
  }
}

TEST(Lzo, ConcurrentCallersGetTheSameBytes) {
  const std::string strText = TextBytes();
  const std::string strExpected = Lzo(strText);
  std::vector<int> vecMismatches(4, 0);
  std::vector<std::thread> vecThreads;
  for (int& nMismatches : vecMismatches)
    vecThreads.emplace_back([&nMismatches, &strText, &strExpected] {
      for (int i = 0; i < 20; ++i) nMismatches += Lzo(strText) != strExpected;
    });
  for (std::thread& thread : vecThreads) thread.join();
  for (int nMismatches : vecMismatches) EXPECT_EQ(0, nMismatches);
}

}  // namespace
