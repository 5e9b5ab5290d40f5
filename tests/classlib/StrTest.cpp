#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "classlib/Str.h"

namespace {

// The system's own format strings use the Microsoft meanings: in a wide
// format %s is wide and %S narrow, in a narrow one the other way round.
TEST(FormatTest, PercentSFollowsTheMicrosoftMeanings) {
  EXPECT_EQ(L"wide|narrow", cl::FormatW(L"%s|%S", L"wide", "narrow"));
  EXPECT_EQ("narrow|wide", cl::FormatA("%s|%S", "narrow", L"wide"));
  // The receiver maps key on "%-15S" of the address.
  EXPECT_EQ(L"10.0.0.7       |", cl::FormatW(L"%-15S|", "10.0.0.7"));
  EXPECT_EQ("err -10002 - x 0A1B", cl::FormatA("err %d - %s %04X", -10002, "x", 0xA1B));
}

TEST(FormatTest, LongTextIsNotCut) {
  const std::string big(70000, 'x');
  const std::wstring wideBig(70000, L'y');
  EXPECT_EQ(big + "!", cl::FormatA("%s!", big.c_str()));
  EXPECT_EQ(wideBig + L"!", cl::FormatW(L"%s!", wideBig.c_str()));
}

TEST(ConvertTest, Utf8BothWaysKeepsEveryCharacter) {
  struct Case {
    std::wstring wide;
    std::string utf8;
  } cases[] = {
      {L"", ""},
      {L"plain", "plain"},
      {L"Gr\u00fc\u00dfe", "Gr\xc3\xbc\xc3\x9f" "e"},
      {L"\u65e5\u672c", "\xe6\x97\xa5\xe6\x9c\xac"},
      {L"\xd83d\xde00", "\xf0\x9f\x98\x80"},  // a surrogate pair: one 4-byte sequence
      {std::wstring(L"a\0b", 3), std::string("a\0b", 3)},  // embedded NUL kept
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.utf8, cl::WideToUtf8(c.wide));
    EXPECT_EQ(c.wide, cl::Utf8ToWide(c.utf8));
  }
}

TEST(ConvertTest, AnsiGoesThroughTheCodePage) {
  if (GetACP() != 1252) GTEST_SKIP() << "ANSI code page " << GetACP();
  EXPECT_EQ("caf\xe9", cl::WideToAnsi(L"caf\u00e9"));
  EXPECT_EQ(L"caf\u00e9", cl::AnsiToWide("caf\xe9"));
  // A character the code page lacks becomes its default character.
  EXPECT_EQ("?", cl::WideToAnsi(L"\u65e5"));
}

}  // namespace
