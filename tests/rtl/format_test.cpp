// Format with variant arguments, and quoting.

#include "platform/rtl/exceptions.h"
#include "platform/rtl/variant.h"
#include "pt_br.h"

namespace rtl {
namespace {

using FormatTest = test::PtBr;

TEST_F(FormatTest, StringsAndIntegers) {
  EXPECT_EQ(Format("%s tem %d anos", {"Ana", 30}), "Ana tem 30 anos");
  EXPECT_EQ(Format("Filial %d: %s", {7, "Centro"}), "Filial 7: Centro");
  EXPECT_EQ(Format("sem argumentos", {}), "sem argumentos");
  EXPECT_EQ(Format("%d%%", {50}), "50%");
  EXPECT_EQ(Format("100%%", {}), "100%");
  EXPECT_EQ(Format("%d", {-42}), "-42");
  EXPECT_EQ(Format("%S|%D", {"x", 1}), "x|1");  // type letters in either case
}

TEST_F(FormatTest, StringOfAnyVariant) {
  EXPECT_EQ(Format("[%s]", {Variant()}), "[]");
  EXPECT_EQ(Format("[%s]", {Variant::Null()}), "[]");
  EXPECT_EQ(Format("%s", {42}), "42");
  EXPECT_EQ(Format("%s", {1.5}), "1,5");
  EXPECT_EQ(Format("%s", {true}), "True");
  EXPECT_EQ(Format("%s", {Variant::FromDate(EncodeDate(2024, 2, 1))}), "01/02/2024");
}

TEST_F(FormatTest, FloatsWithTheDecimalSeparator) {
  EXPECT_EQ(Format("%f", {1234.5}), "1234,50");  // two decimals by default
  EXPECT_EQ(Format("%.2f", {1234.567}), "1234,57");
  EXPECT_EQ(Format("%.0f", {2.5}), "3");
  EXPECT_EQ(Format("%.1f", {2.25}), "2,3");
  EXPECT_EQ(Format("%.2f", {0.125}), "0,13");
  EXPECT_EQ(Format("%.2f", {1.005}), "1,00");
  EXPECT_EQ(Format("%.2f", {1000.005}), "1000,01");  // as FormatFloat does
  EXPECT_EQ(Format("%.1f", {-0.04}), "0,0");         // rounded to zero: no sign
  EXPECT_EQ(Format("%.3f", {-1.5}), "-1,500");
  EXPECT_EQ(Format("%.2f", {3}), "3,00");  // a C++ integer where a float was meant
  EXPECT_EQ(Format("%f", {1e20}), "1E20");  // too large for fixed: general format
}

TEST_F(FormatTest, GeneralNumberAndExponent) {
  EXPECT_EQ(Format("%g", {0.1 + 0.2}), "0,3");
  EXPECT_EQ(Format("%g", {123.456}), "123,456");
  EXPECT_EQ(Format("%g", {1.0 / 3}), "0,333333333333333");
  EXPECT_EQ(Format("%.3g", {123.456}), "123");
  EXPECT_EQ(Format("%g", {1e20}), "1E020");     // at least three exponent digits
  EXPECT_EQ(Format("%g", {0.00001}), "1E-005");
  EXPECT_EQ(Format("%n", {1234567.891}), "1.234.567,89");
  EXPECT_EQ(Format("%.0n", {-1234567.5}), "-1.234.568");
  EXPECT_EQ(Format("%e", {1234.5}), "1,23450000000000E+003");
  EXPECT_EQ(Format("%.3e", {-1234.5}), "-1,23E+003");
  EXPECT_EQ(Format("%m", {1234.5}), "R$ 1.234,50");
  EXPECT_EQ(Format("%m", {-1234.5}), "-R$ 1.234,50");
}

TEST_F(FormatTest, WidthPrecisionAndJustification) {
  EXPECT_EQ(Format("[%5d]", {42}), "[   42]");
  EXPECT_EQ(Format("[%-5d]", {42}), "[42   ]");
  EXPECT_EQ(Format("[%.3d]", {-5}), "[-005]");
  EXPECT_EQ(Format("[%5s]", {"ab"}), "[   ab]");
  EXPECT_EQ(Format("[%-5s]", {"ab"}), "[ab   ]");
  EXPECT_EQ(Format("[%.2s]", {"abcdef"}), "[ab]");
  EXPECT_EQ(Format("[%.2s]", {"ação"}), "[aç]");  // characters, not bytes
  EXPECT_EQ(Format("[%6s]", {"ação"}), "[  ação]");
  EXPECT_EQ(Format("[%8.2f]", {3.14159}), "[    3,14]");
  EXPECT_EQ(Format("[%*d|%-*d|%.*f]", {5, 42, 4, 7, 2, 3.14159}), "[   42|7   |3,14]");
}

TEST_F(FormatTest, HexadecimalAndUnsigned) {
  EXPECT_EQ(Format("%x", {255}), "FF");
  EXPECT_EQ(Format("%.4x", {255}), "00FF");
  EXPECT_EQ(Format("%x", {-1}), "FFFFFFFF");  // an Integer argument
  EXPECT_EQ(Format("%u", {-1}), "4294967295");
  EXPECT_EQ(Format("%x", {0x123456789LL}), "123456789");
}

TEST_F(FormatTest, ArgumentIndexes) {
  EXPECT_EQ(Format("%1:s %0:s", {"mundo", "olá"}), "olá mundo");
  EXPECT_EQ(Format("%0:s-%0:s %s", {"a", "b"}), "a-a b");  // continues after the index
  EXPECT_EQ(Format("%1:-4d|", {0, 7}), "7   |");
}

TEST_F(FormatTest, ErrorsAreConvertErrors) {
  EXPECT_THROW(Format("%d", {}), EConvertError);
  try {
    Format("%s e %s", {"a"});
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "No argument for format '%s'");
  }
  try {
    Format("total %d", {1.5});
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Format '%d' invalid or incompatible with argument");
  }
  EXPECT_THROW(Format("%d", {"12"}), EConvertError);  // a string is no integer
  EXPECT_THROW(Format("%f", {"1,5"}), EConvertError);
  EXPECT_THROW(Format("%f", {Variant::Null()}), EConvertError);
  EXPECT_THROW(Format("%k", {1}), EConvertError);
  EXPECT_THROW(Format("%s", {VarArrayOf({1, 2})}), EConvertError);
}

TEST_F(FormatTest, ExplicitSettings) {
  TFormatSettings us = TFormatSettings::BrazilianPortuguese();
  us.DecimalSeparator = '.';
  us.ThousandSeparator = ',';
  EXPECT_EQ(Format("%.2f|%n", {1.5, 1234.5}, us), "1.50|1,234.50");
}

TEST(QuotedStr, DoublesEmbeddedQuotes) {
  EXPECT_EQ(QuotedStr("O'Brien"), "'O''Brien'");
  EXPECT_EQ(QuotedStr(""), "''");
  EXPECT_EQ(QuotedStr("'"), "''''");
  EXPECT_EQ(QuotedStr("São João"), "'São João'");
  EXPECT_EQ(AnsiQuotedStr("diz \"oi\"", '"'), "\"diz \"\"oi\"\"\"");
}

}  // namespace
}  // namespace rtl
