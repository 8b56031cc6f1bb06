// The code-page-936 helpers: character-aware searching and folding, and the
// conversions to and from UTF-8.
#include "platform/cp936.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// 淺 is 9C 5C and 乗 is 81 5C in code page 936: their trail byte is '\\'.
const char kShallow[] = "\x9C\x5C";
const char kRide[] = "\x81\x5C";
// 表 (B1 ED) and 格 (B8 F1); 格's trail byte F1 is not ASCII, 'A' (0x41) and
// 'a' (0x61) occur as trail bytes of 丄 (81 41) and 乤 (81 61).
const char kUpperTrail[] = "\x81\x41";
const char kLowerTrail[] = "\x81\x61";

TEST(Cp936LeadByteTest, RangeIs81ToFE) {
  EXPECT_FALSE(Cp936IsLeadByte(0x80));
  EXPECT_TRUE(Cp936IsLeadByte(0x81));
  EXPECT_TRUE(Cp936IsLeadByte(0xFE));
  EXPECT_FALSE(Cp936IsLeadByte(0xFF));
  EXPECT_FALSE(Cp936IsLeadByte('\\'));
}

TEST(Cp936SearchTest, TrailBackslashIsNeverASeparator) {
  std::string strPath = std::string("dir\\") + kShallow + kRide;
  const char* pszLast = Cp936StrRChr(strPath.c_str(), '\\');
  ASSERT_NE(pszLast, nullptr);
  EXPECT_EQ(pszLast - strPath.c_str(), 3);

  std::string strNoSeparator = std::string(kShallow) + "x" + kRide;
  EXPECT_EQ(Cp936StrRChr(strNoSeparator.c_str(), '\\'), nullptr);
  EXPECT_EQ(Cp936StrChr(strNoSeparator.c_str(), '\\'), nullptr);
  EXPECT_EQ(Cp936StrChr(strNoSeparator.c_str(), 'x'), strNoSeparator.c_str() + 2);
}

TEST(Cp936SearchTest, NulFindsTheTerminatorAndNullInputIsSafe) {
  const char szText[] = "ab";
  EXPECT_EQ(Cp936StrChr(szText, '\0'), szText + 2);
  EXPECT_EQ(Cp936StrRChr(szText, '\0'), szText + 2);
  EXPECT_EQ(Cp936StrChr(static_cast<const char*>(nullptr), 'a'), nullptr);
  EXPECT_EQ(Cp936StrStr(static_cast<const char*>(nullptr), "a"), nullptr);
}

TEST(Cp936SearchTest, LeadByteBeforeTerminatorStandsAlone) {
  // A lead byte at the end takes no terminator with it: the walk stops there.
  const char szText[] = "a\\\x81";
  EXPECT_EQ(Cp936StrRChr(szText, '\\'), szText + 1);
  EXPECT_EQ(Cp936StrChr(szText, '\0'), szText + 3);
}

TEST(Cp936SearchTest, NonConstOverloadsReturnWritablePointers) {
  char szPath[] = "a\\b\\c";
  char* pszSlash = Cp936StrRChr(szPath, '\\');
  ASSERT_NE(pszSlash, nullptr);
  *pszSlash = '\0';
  EXPECT_STREQ(szPath, "a\\b");
}

TEST(Cp936StrLwrTest, FoldsAsciiAndLeavesTrailBytes) {
  std::string strText = std::string("ABC") + kUpperTrail + "XyZ" + kShallow;
  Cp936StrLwr(&strText[0]);
  EXPECT_EQ(strText, std::string("abc") + kUpperTrail + "xyz" + kShallow);
}

TEST(Cp936StrStrTest, MatchesOnlyAtCharacterBoundaries) {
  // "\x41\x81" would match across 丄's trail byte and the next lead byte.
  std::string strText = std::string(kUpperTrail) + kUpperTrail + "A";
  EXPECT_EQ(Cp936StrStr(strText.c_str(), "\x41\x81"), nullptr);
  const char* pszFound = Cp936StrStr(strText.c_str(), "A");
  ASSERT_NE(pszFound, nullptr);
  EXPECT_EQ(pszFound - strText.c_str(), 4);
  // A needle that ends inside a character does not match it.
  EXPECT_EQ(Cp936StrStr(kShallow, "\x9C"), nullptr);
  EXPECT_EQ(Cp936StrStr(strText.c_str(), ""), strText.c_str());
  std::string strTwice = std::string("x") + kShallow + kShallow;
  EXPECT_EQ(Cp936StrStr(strTwice.c_str(), kShallow), strTwice.c_str() + 1);
}

TEST(Cp936StrICmpTest, FoldsAsciiOnlyOutsideTrailBytes) {
  EXPECT_EQ(Cp936StrICmp("Data\\UI", "data\\ui"), 0);
  // 丄 and 乤 differ only in a trail byte that looks like 'A' / 'a'.
  EXPECT_NE(Cp936StrICmp(kUpperTrail, kLowerTrail), 0);
  EXPECT_LT(Cp936StrICmp(kUpperTrail, kLowerTrail), 0);
  // Folding to lower case puts '_' before the letters, as _stricmp does.
  EXPECT_LT(Cp936StrICmp("A_", "Ab"), 0);
  EXPECT_LT(Cp936StrICmp("ab", "ABC"), 0);
  EXPECT_GT(Cp936StrICmp("b", "A"), 0);
  EXPECT_LT(Cp936StrICmp(nullptr, ""), 0);
  EXPECT_EQ(Cp936StrICmp(nullptr, nullptr), 0);
}

TEST(Cp936ConversionTest, RoundTripsChineseAndEuro) {
  std::string strCp936 = std::string("\xB1\xED\xB8\xF1") + kShallow + kRide + "\x80.txt";
  std::string strUtf8;
  ASSERT_TRUE(Cp936ToUtf8(strCp936, strUtf8));
  EXPECT_EQ(strUtf8, u8"表格淺乗€.txt");
  std::string strBack;
  ASSERT_TRUE(Utf8ToCp936(strUtf8, strBack, true));
  EXPECT_EQ(strBack, strCp936);
}

TEST(Cp936ConversionTest, InvalidCodePageSequencesFail) {
  std::string strOut = "unchanged";
  EXPECT_FALSE(Cp936ToUtf8("\x81\x20", strOut));
  EXPECT_FALSE(Cp936ToUtf8("ab\xFF", strOut));
  EXPECT_FALSE(Cp936ToUtf8("ab\x81", strOut));
  EXPECT_EQ(strOut, "unchanged");
  ASSERT_TRUE(Cp936ToUtf8("", strOut));
  EXPECT_EQ(strOut, "");
}

TEST(Cp936ConversionTest, UnmappableCharactersBecomeQuestionMarks) {
  std::string strOut;
  ASSERT_TRUE(Utf8ToCp936(u8"a\U0001F600b\uD55C.txt", strOut));
  EXPECT_EQ(strOut, "a?b?.txt");
}

TEST(Cp936ConversionTest, InvalidUtf8FailsOnlyWhenAsked) {
  const std::string strBad = "a\xC3(b\xED\xA0\x80";  // truncated sequence, then a surrogate
  std::string strOut;
  EXPECT_FALSE(Utf8ToCp936(strBad, strOut, true));
  ASSERT_TRUE(Utf8ToCp936(strBad, strOut));
  EXPECT_EQ(strOut, "a?(b???");
}

TEST(Cp936ConversionTest, LongTextConvertsCompletely) {
  std::string strUtf8;
  for (int i = 0; i < 5000; ++i) strUtf8 += u8"表a€";
  std::string strCp936;
  ASSERT_TRUE(Utf8ToCp936(strUtf8, strCp936, true));
  EXPECT_EQ(strCp936.size(), 5000u * 4);
  std::string strBack;
  ASSERT_TRUE(Cp936ToUtf8(strCp936, strBack));
  EXPECT_EQ(strBack, strUtf8);
}

TEST(Cp936FittingPrefixTest, CutsOnlyBetweenCharacters) {
  const std::string strText = "ab\xB1\xED\x95\x5C";  // a, b and two double-byte characters
  EXPECT_EQ(0u, Cp936FittingPrefix(strText, 0));
  EXPECT_EQ(2u, Cp936FittingPrefix(strText, 3));
  EXPECT_EQ(4u, Cp936FittingPrefix(strText, 5));
  EXPECT_EQ(6u, Cp936FittingPrefix(strText, 6));
  EXPECT_EQ(6u, Cp936FittingPrefix(strText, 100));
  // A lead byte at the very end stands alone.
  EXPECT_EQ(3u, Cp936FittingPrefix("ab\xB1", 3));
}

}  // namespace
