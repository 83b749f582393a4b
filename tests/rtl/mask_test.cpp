// Edit masks: parsing, input checks, case conversion and FormatMaskText.

#include "platform/rtl/mask.h"
#include "pt_br.h"

namespace rtl {
namespace {

using MaskTest = test::PtBr;

const char* const kCpf = "999.999.999-99;0;_";       // individual registration number
const char* const kCnpj = "99.999.999/9999-99;0;_";  // company registration number
const char* const kDate = "!99/99/9999;1;_";

TEST_F(MaskTest, ParsesFieldsAndPositions) {
  const EditMask code(">aaaa;0; ");
  EXPECT_FALSE(code.saveLiterals());
  EXPECT_EQ(code.blank(), " ");
  ASSERT_EQ(code.positions().size(), 4u);
  for (const auto& p : code.positions()) {
    EXPECT_EQ(p.kind, MaskCharKind::AlnumOptional);
    EXPECT_EQ(p.casing, MaskCase::Upper);
  }

  const EditMask date(kDate);
  EXPECT_TRUE(date.saveLiterals());
  EXPECT_EQ(date.blank(), "_");
  EXPECT_TRUE(date.reverse());
  ASSERT_EQ(date.displayLength(), 10u);
  EXPECT_EQ(date.positions()[2].kind, MaskCharKind::Literal);
  EXPECT_EQ(date.positions()[2].literal, "/");
  EXPECT_EQ(date.positions()[0].kind, MaskCharKind::DigitOptional);

  const EditMask cpf(kCpf);
  EXPECT_FALSE(cpf.saveLiterals());
  EXPECT_FALSE(cpf.reverse());
  EXPECT_EQ(cpf.displayLength(), 14u);
  EXPECT_EQ(cpf.positions()[11].literal, "-");

  const EditMask noFields("LlAaCc09#");
  EXPECT_TRUE(noFields.saveLiterals());  // defaults
  EXPECT_EQ(noFields.blank(), "_");
  const MaskCharKind kinds[] = {MaskCharKind::LetterRequired, MaskCharKind::LetterOptional,
                                MaskCharKind::AlnumRequired,  MaskCharKind::AlnumOptional,
                                MaskCharKind::AnyRequired,    MaskCharKind::AnyOptional,
                                MaskCharKind::DigitRequired,  MaskCharKind::DigitOptional,
                                MaskCharKind::DigitOrSignOptional};
  ASSERT_EQ(noFields.positions().size(), 9u);
  for (size_t i = 0; i < 9; ++i) EXPECT_EQ(noFields.positions()[i].kind, kinds[i]) << i;

  EXPECT_TRUE(EditMask("").empty());
  EXPECT_TRUE(EditMask("999;1").saveLiterals());
  EXPECT_FALSE(EditMask("999;0").saveLiterals());
  EXPECT_EQ(EditMask("999;0").blank(), "_");
}

TEST_F(MaskTest, CaseDirectives) {
  const EditMask m("<LL>LL<>LL");
  ASSERT_EQ(m.positions().size(), 6u);
  EXPECT_EQ(m.positions()[0].casing, MaskCase::Lower);
  EXPECT_EQ(m.positions()[2].casing, MaskCase::Upper);
  EXPECT_EQ(m.positions()[4].casing, MaskCase::None);
  EXPECT_EQ(m.convert(0, "A"), "a");
  EXPECT_EQ(m.convert(0, "Ç"), "ç");
  EXPECT_EQ(m.convert(2, "b"), "B");
  EXPECT_EQ(m.convert(2, "ã"), "Ã");
  EXPECT_EQ(m.convert(4, "b"), "b");
  EXPECT_EQ(m.convert(4, "B"), "B");
  const EditMask code(">aaaa;0; ");
  EXPECT_EQ(code.convert(0, "x"), "X");
  EXPECT_EQ(code.convert(1, "7"), "7");
  EXPECT_EQ(code.convert(3, "é"), "É");
}

TEST_F(MaskTest, EscapedCharactersAreLiterals) {
  const EditMask m("\\9\\L99;0;_");
  ASSERT_EQ(m.positions().size(), 4u);
  EXPECT_EQ(m.positions()[0].kind, MaskCharKind::Literal);
  EXPECT_EQ(m.positions()[0].literal, "9");
  EXPECT_EQ(m.positions()[1].literal, "L");
  EXPECT_EQ(m.positions()[2].kind, MaskCharKind::DigitOptional);
  EXPECT_EQ(FormatMaskText("\\9\\L99;0;_", "12"), "9L12");
}

TEST_F(MaskTest, Accepts) {
  const EditMask cpf(kCpf);
  EXPECT_TRUE(cpf.accepts(0, "5"));
  EXPECT_FALSE(cpf.accepts(0, "a"));
  EXPECT_FALSE(cpf.accepts(0, " "));
  EXPECT_TRUE(cpf.accepts(3, "."));  // the literal itself
  EXPECT_FALSE(cpf.accepts(3, "-"));
  EXPECT_FALSE(cpf.accepts(14, "1"));  // past the end

  const EditMask m("LaC#");
  EXPECT_TRUE(m.accepts(0, "x"));
  EXPECT_TRUE(m.accepts(0, "á"));  // accented letters are letters
  EXPECT_FALSE(m.accepts(0, "1"));
  EXPECT_TRUE(m.accepts(1, "1"));
  EXPECT_TRUE(m.accepts(1, "ç"));
  EXPECT_FALSE(m.accepts(1, "-"));
  EXPECT_TRUE(m.accepts(2, "-"));
  EXPECT_TRUE(m.accepts(2, "€"));
  EXPECT_TRUE(m.accepts(3, "+"));
  EXPECT_TRUE(m.accepts(3, "-"));
  EXPECT_TRUE(m.accepts(3, " "));
  EXPECT_TRUE(m.accepts(3, "9"));
  EXPECT_FALSE(m.accepts(3, "a"));
  EXPECT_FALSE(m.accepts(0, "ab"));  // one character at a time

  const EditMask date(kDate);  // "/" is the settings' date separator
  EXPECT_TRUE(date.accepts(2, "/"));
  TFormatSettings fs = TFormatSettings::BrazilianPortuguese();
  fs.DateSeparator = '-';
  SetFormatSettings(fs);
  const EditMask dashed(kDate);
  EXPECT_EQ(dashed.positions()[2].literal, "-");
  EXPECT_EQ(FormatMaskText(kDate, "01-02-2024"), "01-02-2024");
}

TEST_F(MaskTest, FormatMaskTextInsertsLiteralsWhenTheyAreNotSaved) {
  EXPECT_EQ(FormatMaskText(kCpf, "12345678901"), "123.456.789-01");
  EXPECT_EQ(FormatMaskText(kCnpj, "12345678000199"), "12.345.678/0001-99");
  EXPECT_EQ(FormatMaskText("(99) 9999-9999;0;_", "1133334444"), "(11) 3333-4444");
  EXPECT_EQ(FormatMaskText("!99/99/9999;0;_", "01022024"), "01/02/2024");
  EXPECT_EQ(FormatMaskText("99999;0; ", "123"), "123  ");
  EXPECT_EQ(FormatMaskText("ccccc;0; ", "ab"), "ab   ");
  EXPECT_EQ(FormatMaskText(">aaaa;0; ", "abcd"), "abcd");  // no case conversion here
  EXPECT_EQ(FormatMaskText(kCpf, "123"), "123.   .   -  ");
  EXPECT_EQ(FormatMaskText("99-99;0;_", "123456"), "12-3456");  // extra characters stay
}

// fpc's MaskUtils fails on an empty value; the platform returns the literals
// with blanks (spaces, whatever the mask's blank character).
TEST_F(MaskTest, FormatMaskTextOfAnEmptyValue) {
  EXPECT_EQ(FormatMaskText(kCpf, ""), "   .   .   -  ");
  EXPECT_EQ(FormatMaskText(kCnpj, ""), "  .   .   /    -  ");
  EXPECT_EQ(FormatMaskText(kDate, ""), "  /  /    ");
  EXPECT_EQ(FormatMaskText("!99/99/9999;0;_", ""), "  /  /    ");
  EXPECT_EQ(FormatMaskText(">aaaa;0; ", ""), "    ");
  EXPECT_EQ(FormatMaskText("99999;0; ", ""), "     ");
  EXPECT_EQ(FormatMaskText("", ""), "");
  EXPECT_EQ(FormatMaskText("", "abc"), "abc");  // no mask
}

// With saved literals each part between literals is fitted to its width:
// padded with blanks (before the characters when the mask has "!"), or cut.
TEST_F(MaskTest, FormatMaskTextFitsSavedSubfields) {
  EXPECT_EQ(FormatMaskText(kDate, "01/02/2024"), "01/02/2024");
  EXPECT_EQ(FormatMaskText(kDate, "1/2/2024"), " 1/ 2/2024");
  EXPECT_EQ(FormatMaskText("99/99/9999;1;_", "1/2/2024"), "1 /2 /2024");
  EXPECT_EQ(FormatMaskText("999.999.999-99;1;_", "123.456.789-01"), "123.456.789-01");
  EXPECT_EQ(FormatMaskText("999.999.999-99;1;_", "12345678901"), "123.   .   -  ");
  EXPECT_EQ(FormatMaskText("!90:00;1;_", "8:30"), " 8:30");
  EXPECT_EQ(FormatMaskText("000-000", "123456"), "123-   ");  // the value should hold the "-"
}

TEST_F(MaskTest, DisplayTextUsesTheMaskBlank) {
  const EditMask cpf(kCpf);
  EXPECT_EQ(cpf.displayText("12345678901"), "123.456.789-01");
  EXPECT_EQ(cpf.displayText(""), "___.___.___-__");
  EXPECT_EQ(cpf.displayText("123"), "123.___.___-__");
  const EditMask date(kDate);
  EXPECT_EQ(date.displayText(""), "__/__/____");
  EXPECT_EQ(date.displayText("1/2/2024"), "_1/_2/2024");
  EXPECT_EQ(date.displayText("01/02/2024"), "01/02/2024");
  EXPECT_EQ(EditMask("99999;0; ").displayText("123"), "123  ");
  EXPECT_EQ(EditMask().displayText("livre"), "livre");
}

TEST_F(MaskTest, ValueFromTextDropsLiteralsAndTrailingBlanks) {
  const EditMask cpf(kCpf);
  EXPECT_EQ(cpf.valueFromText("123.456.789-01"), "12345678901");
  EXPECT_EQ(cpf.valueFromText("123.456.___-__"), "123456");
  EXPECT_EQ(cpf.valueFromText("___.___.___-__"), "");
  EXPECT_EQ(cpf.valueFromText("12_.456.789-01"), "12 45678901");  // inner blanks become spaces
  EXPECT_EQ(EditMask("99999;0; ").valueFromText("123  "), "123");
  EXPECT_EQ(EditMask(">aaaa;0; ").valueFromText("AB  "), "AB");
  // Saved literals: the text comes back with its literals, blanks as spaces,
  // as an empty date edit of the platform gives "  /  /    ".
  const EditMask date(kDate);
  EXPECT_EQ(date.valueFromText("01/02/2024"), "01/02/2024");
  EXPECT_EQ(date.valueFromText("__/__/____"), "  /  /    ");
  EXPECT_EQ(date.valueFromText("_1/_2/2024"), " 1/ 2/2024");
  for (const char* v : {"12345678901", "123", ""}) EXPECT_EQ(cpf.valueFromText(cpf.displayText(v)), v);
}

TEST_F(MaskTest, IsComplete) {
  const EditMask m("000.000.000-00;0;_");
  EXPECT_TRUE(m.isComplete("123.456.789-01"));
  EXPECT_FALSE(m.isComplete("123.456.789-0_"));
  EXPECT_FALSE(m.isComplete("123.456.789- 1"));
  EXPECT_FALSE(m.isComplete("___.___.___-__"));
  EXPECT_TRUE(m.isComplete("12345678901"));  // a stored value is laid in first
  EXPECT_FALSE(m.isComplete("1234"));
  EXPECT_TRUE(EditMask(kCpf).isComplete("___.___.___-__"));  // nothing required
  EXPECT_FALSE(EditMask("!99/99/0000;1;_").isComplete("01/02/____"));
  EXPECT_TRUE(EditMask("!99/99/0000;1;_").isComplete("01/02/2024"));
  EXPECT_TRUE(EditMask("LL-00").isComplete("AB-12"));
  EXPECT_FALSE(EditMask("LL-00").isComplete("A1-12"));
  EXPECT_TRUE(EditMask("CC").isComplete(" x"));  // any character, a space too
}

}  // namespace
}  // namespace rtl
