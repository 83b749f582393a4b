// Text helpers on UTF-8 strings with the platform's semantics.

#include <gtest/gtest.h>

#include "platform/rtl/text.h"

namespace rtl {
namespace {

TEST(Trim, RemovesEverythingUpToSpace) {
  EXPECT_EQ(Trim("  abc  "), "abc");
  EXPECT_EQ(Trim("\t\r\n abc \x01\x1f"), "abc");  // all chars <= ' '
  EXPECT_EQ(Trim(" a b "), "a b");
  EXPECT_EQ(Trim(""), "");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(Trim(" ação "), "ação");  // multibyte characters are no blanks
  EXPECT_EQ(Trim("\xc2\xa0x\xc2\xa0"), "\xc2\xa0x\xc2\xa0");  // nor is a no-break space
  EXPECT_EQ(TrimLeft("  abc  "), "abc  ");
  EXPECT_EQ(TrimRight("  abc  "), "  abc");
  EXPECT_EQ(TrimRight("abc\t\n"), "abc");
}

TEST(CaseConversion, AsciiOnlyForUpperCase) {
  EXPECT_EQ(UpperCase("ação Abc"), "AçãO ABC");
  EXPECT_EQ(LowerCase("AÇÃO Abc"), "aÇÃo abc");
}

TEST(CaseConversion, AnsiCaseConvertsAccentedLetters) {
  EXPECT_EQ(AnsiUpperCase("ação"), "AÇÃO");
  EXPECT_EQ(AnsiUpperCase("á é í ó ú â ê ô ã õ à ç ü ñ"), "Á É Í Ó Ú Â Ê Ô Ã Õ À Ç Ü Ñ");
  EXPECT_EQ(AnsiLowerCase("Á É Í Ó Ú Â Ê Ô Ã Õ À Ç Ü Ñ"), "á é í ó ú â ê ô ã õ à ç ü ñ");
  EXPECT_EQ(AnsiUpperCase("São João da Boa Vista"), "SÃO JOÃO DA BOA VISTA");
  EXPECT_EQ(AnsiLowerCase("REFEIÇÕES"), "refeições");
  EXPECT_EQ(AnsiUpperCase("ÿ"), "Ÿ");
  EXPECT_EQ(AnsiUpperCase("ß"), "ß");  // no single upper-case letter
  EXPECT_EQ(AnsiUpperCase("÷×"), "÷×");
  EXPECT_EQ(AnsiUpperCase("œ š ž ł"), "Œ Š Ž Ł");
  EXPECT_EQ(AnsiUpperCase("123 -_/"), "123 -_/");
  EXPECT_EQ(AnsiUpperCase("abc\xff"), "ABC\xff");  // invalid UTF-8 passes through
}

TEST(Comparison, SameTextIsAsciiCaseInsensitive) {
  EXPECT_TRUE(SameText("Filial", "FILIAL"));
  EXPECT_TRUE(SameText("", ""));
  EXPECT_FALSE(SameText("ação", "AÇÃO"));  // accents are not folded
  EXPECT_TRUE(SameText("ação", "AçãO"));
  EXPECT_FALSE(SameText("abc", "abcd"));
}

TEST(Comparison, AnsiSameTextFoldsAccentedCase) {
  EXPECT_TRUE(AnsiSameText("ação", "AÇÃO"));
  EXPECT_TRUE(AnsiSameText("Refeição", "REFEIÇÃO"));
  EXPECT_FALSE(AnsiSameText("acao", "ação"));  // accents still matter
}

TEST(Comparison, CompareStrIsOrdinal) {
  EXPECT_EQ(CompareStr("abc", "abc"), 0);
  EXPECT_LT(CompareStr("ABC", "abc"), 0);
  EXPECT_GT(CompareStr("abd", "abc"), 0);
  EXPECT_LT(CompareStr("ab", "abc"), 0);
  EXPECT_GT(CompareStr("á", "b"), 0);  // bytes
}

TEST(Comparison, AnsiCompareTextIsLinguistic) {
  EXPECT_EQ(AnsiCompareText("abc", "ABC"), 0);
  EXPECT_EQ(AnsiCompareText("ação", "AÇÃO"), 0);
  EXPECT_LT(AnsiCompareText("a", "á"), 0);
  EXPECT_LT(AnsiCompareText("á", "b"), 0);  // accents sort with their letter
  EXPECT_LT(AnsiCompareText("B", "c"), 0);
  EXPECT_GT(AnsiCompareText("B", "a"), 0);
  EXPECT_LT(AnsiCompareText("maçã", "macas"), 0);
}

TEST(Utf8, LengthAndCopyCountCharacters) {
  EXPECT_EQ(Utf8Length(""), 0u);
  EXPECT_EQ(Utf8Length("abc"), 3u);
  EXPECT_EQ(Utf8Length("ação"), 4u);
  EXPECT_EQ(Utf8Length("€"), 1u);
  EXPECT_EQ(Utf8Length("😀a"), 2u);
  EXPECT_EQ(Utf8Copy("ação", 0, 2), "aç");
  EXPECT_EQ(Utf8Copy("ação", 2, 2), "ão");
  EXPECT_EQ(Utf8Copy("ação", 1, 100), "ção");
  EXPECT_EQ(Utf8Copy("ação", 10, 1), "");
  EXPECT_EQ(Utf8Copy("ação", 0, 0), "");
  EXPECT_EQ(Utf8Copy("😀ab", 0, 1), "😀");
}

TEST(Utf8, DropLastAndSplitTakeWholeCharacters) {
  EXPECT_EQ(Utf8DropLast("ação"), "açã");
  EXPECT_EQ(Utf8DropLast("a😀"), "a");
  EXPECT_EQ(Utf8DropLast(""), "");
  EXPECT_EQ(Utf8Split("aç😀"), (std::vector<std::string>{"a", "ç", "😀"}));
  EXPECT_TRUE(Utf8Split("").empty());
}

TEST(Utf8, ValidUtf8RefusesEveryMalformedSequence) {
  EXPECT_TRUE(ValidUtf8(""));
  EXPECT_TRUE(ValidUtf8("ação € 😀"));
  EXPECT_TRUE(ValidUtf8("\xf4\x8f\xbf\xbf"));   // U+10FFFF, the last one
  EXPECT_FALSE(ValidUtf8("a\x80"));             // stray continuation byte
  EXPECT_FALSE(ValidUtf8("\xc3"));              // truncated
  EXPECT_FALSE(ValidUtf8("\xe2\x82"));
  EXPECT_FALSE(ValidUtf8("\xc3("));             // lead byte without its continuation
  EXPECT_FALSE(ValidUtf8("\xc0\xaf"));          // overlong '/'
  EXPECT_FALSE(ValidUtf8("\xe0\x80\xaf"));
  EXPECT_FALSE(ValidUtf8("\xed\xa0\x80"));      // a surrogate
  EXPECT_FALSE(ValidUtf8("\xf4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_FALSE(ValidUtf8("\xff"));
}

TEST(StringOfChar, Repeats) {
  EXPECT_EQ(StringOfChar('-', 3), "---");
  EXPECT_EQ(StringOfChar('x', 0), "");
}

}  // namespace
}  // namespace rtl
