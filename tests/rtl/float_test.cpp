// Numbers as text with the Brazilian Portuguese settings: FloatToStr,
// FormatFloat, StrToFloat and the rounding functions.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "platform/rtl/exceptions.h"
#include "pt_br.h"

namespace rtl {
namespace {

using test::PtBr;

double fromBits(uint64_t bits) {
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

// ---------------------------------------------------------------- FloatToStr

using FloatToStrTest = PtBr;

TEST_F(FloatToStrTest, FifteenSignificantDigitsWithoutTrailingZeros) {
  EXPECT_EQ(FloatToStr(0.1 + 0.2), "0,3");  // 0.30000000000000004
  EXPECT_EQ(FloatToStr(0.1), "0,1");
  EXPECT_EQ(FloatToStr(1.0 / 3), "0,333333333333333");
  EXPECT_EQ(FloatToStr(2.0 / 3), "0,666666666666667");
  EXPECT_EQ(FloatToStr(-1.5), "-1,5");
  EXPECT_EQ(FloatToStr(12345.678), "12345,678");
  EXPECT_EQ(FloatToStr(1234567.891), "1234567,891");  // never a thousands separator
}

TEST_F(FloatToStrTest, IntegralValuesHaveNoDecimals) {
  EXPECT_EQ(FloatToStr(0), "0");
  EXPECT_EQ(FloatToStr(100), "100");
  EXPECT_EQ(FloatToStr(-42), "-42");
  EXPECT_EQ(FloatToStr(999999999999999.0), "999999999999999");
  EXPECT_EQ(FloatToStr(1e14), "100000000000000");
}

TEST_F(FloatToStrTest, NegativeZeroIsZero) { EXPECT_EQ(FloatToStr(-0.0), "0"); }

// Scientific when the decimal exponent is above the precision (15) or the
// value is below 0.0001.
TEST_F(FloatToStrTest, ScientificThresholds) {
  EXPECT_EQ(FloatToStr(1e15), "1E15");
  EXPECT_EQ(FloatToStr(9999999999999999.0), "1E16");
  EXPECT_EQ(FloatToStr(123456789012345678.0), "1,23456789012346E17");
  EXPECT_EQ(FloatToStr(0.0001), "0,0001");
  EXPECT_EQ(FloatToStr(0.00015), "0,00015");
  EXPECT_EQ(FloatToStr(0.000123456789012345678), "0,000123456789012346");
  EXPECT_EQ(FloatToStr(0.00001), "1E-5");  // fpc: 0,00001
  EXPECT_EQ(FloatToStr(-0.00001), "-1E-5");
  EXPECT_EQ(FloatToStr(1.5e-7), "1,5E-7");
  EXPECT_EQ(FloatToStr(1.23456789012345e-10), "1,23456789012345E-10");
  EXPECT_EQ(FloatToStr(std::numeric_limits<double>::max()), "1,79769313486232E308");
  EXPECT_EQ(FloatToStr(5e-324), "4,94065645841247E-324");
}

// One rounding of the exact binary value at the 15th digit. fpc first rounds
// to 17 digits and then again to 15, which goes wrong when the digits after
// the 15th are 49...: 1.92523388053491495... must stay ...491.
TEST_F(FloatToStrTest, RoundsOnceAtTheFifteenthDigit) {
  EXPECT_EQ(FloatToStr(fromBits(0x3FFECDC20AA0C731)), "1,92523388053491");   // fpc: ...492
  EXPECT_EQ(FloatToStr(fromBits(0x4059CBA1506E760B)), "103,181720836517");   // 103.18172083651749915...
  EXPECT_EQ(FloatToStr(fromBits(0x4130A355D86D2156)), "1090389,84541519");   // 1090389.84541519498...
}

// A true tie at the 16th digit rounds away from zero (not to even).
TEST_F(FloatToStrTest, ExactTiesRoundAwayFromZero) {
  EXPECT_EQ(FloatToStr(1234567890123455.0), "1,23456789012346E15");
  EXPECT_EQ(FloatToStr(1234567890123445.0), "1,23456789012345E15");  // half-even would give ...344
  EXPECT_EQ(FloatToStr(-1234567890123445.0), "-1,23456789012345E15");
  EXPECT_EQ(FloatToStr(1000000000000005.0), "1,00000000000001E15");
}

TEST_F(FloatToStrTest, InfinitiesAndNaN) {
  EXPECT_EQ(FloatToStr(std::numeric_limits<double>::infinity()), "INF");
  EXPECT_EQ(FloatToStr(-std::numeric_limits<double>::infinity()), "-INF");
  EXPECT_EQ(FloatToStr(std::numeric_limits<double>::quiet_NaN()), "NAN");
}

TEST_F(FloatToStrTest, UsesTheSettingsDecimalSeparator) {
  TFormatSettings us = TFormatSettings::BrazilianPortuguese();
  us.DecimalSeparator = '.';
  EXPECT_EQ(FloatToStr(1.5, us), "1.5");
  EXPECT_EQ(FloatToStr(1.5e-7, us), "1.5E-7");
  SetFormatSettings(us);
  EXPECT_EQ(FloatToStr(0.25), "0.25");
}

// --------------------------------------------------------------- FormatFloat

using FormatFloatTest = PtBr;

TEST_F(FormatFloatTest, ThousandsAndDecimals) {
  EXPECT_EQ(FormatFloat("#,##0.00", 1234567.891), "1.234.567,89");
  EXPECT_EQ(FormatFloat("#,##0.00", 0), "0,00");
  EXPECT_EQ(FormatFloat("#,##0.00", 0.5), "0,50");
  EXPECT_EQ(FormatFloat("#,##0.00", 999.5), "999,50");
  EXPECT_EQ(FormatFloat("#,##0.00", 1000), "1.000,00");
  EXPECT_EQ(FormatFloat("#,##0.000", 1234.5), "1.234,500");
  EXPECT_EQ(FormatFloat("#,##0", 1000000), "1.000.000");
  EXPECT_EQ(FormatFloat("###,###", 1234567), "1.234.567");
  EXPECT_EQ(FormatFloat("0.00", 1234567.891), "1234567,89");  // no "," in the pattern
  EXPECT_EQ(FormatFloat("0", 1234.4), "1234");
  EXPECT_EQ(FormatFloat("00000", 123), "00123");
  EXPECT_EQ(FormatFloat("0.0", 123.456), "123,5");
}

TEST_F(FormatFloatTest, NegativesKeepTheSignOutsideTheGrouping) {
  EXPECT_EQ(FormatFloat("#,##0.00", -1234567.891), "-1.234.567,89");
  EXPECT_EQ(FormatFloat("###,###", -123456), "-123.456");
  EXPECT_EQ(FormatFloat("#,##0", -123), "-123");
  EXPECT_EQ(FormatFloat("#,##0", -1234), "-1.234");
  EXPECT_EQ(FormatFloat("#,##0.00", -1000), "-1.000,00");
  EXPECT_EQ(FormatFloat("#,##0.00", -0.5), "-0,50");
}

TEST_F(FormatFloatTest, OptionalDigits) {
  EXPECT_EQ(FormatFloat("#", 0), "");
  EXPECT_EQ(FormatFloat("#.##", 0), "");
  EXPECT_EQ(FormatFloat("#.##", 0.5), ",5");
  EXPECT_EQ(FormatFloat("#.##", 12.345), "12,35");
  EXPECT_EQ(FormatFloat("#.##", 12), "12");
  EXPECT_EQ(FormatFloat("0.##", 12.3), "12,3");
  EXPECT_EQ(FormatFloat("0.0#", 12), "12,0");
  // A value that rounds away at the first digit keeps its exponent on the
  // platform, which then writes the zeros of "#.##" after the decimal point.
  EXPECT_EQ(FormatFloat("#.##", 0.001), ",00");
}

// Half away from zero on the digits the platform takes from the FPU (18
// significant digits): an exact binary tie rounds up, a value just below the
// decimal tie (1.005 is 1.00499999999999989...) rounds down.
TEST_F(FormatFloatTest, HalfAwayFromZeroOnTheDecimalDigits) {
  EXPECT_EQ(FormatFloat("0.00", 0.125), "0,13");
  EXPECT_EQ(FormatFloat("0.00", -0.125), "-0,13");
  EXPECT_EQ(FormatFloat("0.00", 0.375), "0,38");
  EXPECT_EQ(FormatFloat("0", 0.5), "1");
  EXPECT_EQ(FormatFloat("0", 1.5), "2");
  EXPECT_EQ(FormatFloat("0", 2.5), "3");  // not banker's
  EXPECT_EQ(FormatFloat("0", -2.5), "-3");
  EXPECT_EQ(FormatFloat("0.0", 0.25), "0,3");
  EXPECT_EQ(FormatFloat("0.00", 1.005), "1,00");
  EXPECT_EQ(FormatFloat("0.00", 2.675), "2,67");
  EXPECT_EQ(FormatFloat("0.00", 1.115), "1,11");  // 1.11499999999999999; fpc: 1,12
  EXPECT_EQ(FormatFloat("0.00", 1.045), "1,04");
  EXPECT_EQ(FormatFloat("#,##0.00", 0.005), "0,01");  // 0.005000000000000000104
  EXPECT_EQ(FormatFloat("#,##0.00", -0.005), "-0,01");
  EXPECT_EQ(FormatFloat("#,##0.00", 999.995), "1.000,00");  // 999.99500000000000455
  EXPECT_EQ(FormatFloat("#,##0.000", 1234.0005), "1.234,001");
  EXPECT_EQ(FormatFloat("0.0", 0.05), "0,1");
  EXPECT_EQ(FormatFloat("0.0", 0.15), "0,1");  // 0.1499999999999999944
}

// 1000.005 is 1000.00499999999999545...; its 18 digits are 1000.00500000000000
// and the platform rounds those up. A single rounding of the binary value
// would give 1.000,00.
TEST_F(FormatFloatTest, EighteenDigitsFirstAsTheFpuGivesThem) {
  EXPECT_EQ(FormatFloat("#,##0.00", 1000.005), "1.000,01");
  EXPECT_EQ(FormatFloat("#,##0.00", 1000.255), "1.000,26");
  EXPECT_EQ(FormatFloat("#,##0.00", -1001.505), "-1.001,51");
}

TEST_F(FormatFloatTest, Sections) {
  const char* f = "#,##0.00;(#,##0.00);zero";
  EXPECT_EQ(FormatFloat(f, 1234.5), "1.234,50");
  EXPECT_EQ(FormatFloat(f, -1234.5), "(1.234,50)");  // no minus in its own section
  EXPECT_EQ(FormatFloat(f, 0), "zero");
  EXPECT_EQ(FormatFloat("0.00;-0.00;-", 0), "-");
  // An empty negative section falls back to the first, with the minus sign.
  EXPECT_EQ(FormatFloat("#,##0.00;;zero", -1), "-1,00");
  EXPECT_EQ(FormatFloat("#,##0.00;;zero", 0), "zero");
  // Missing zero section: the first one.
  EXPECT_EQ(FormatFloat("0.00;(0.00)", 0), "0,00");
}

// A value that rounds to zero is zero: no minus sign, and the zero section
// when there is one, otherwise the first (not the negative one).
TEST_F(FormatFloatTest, RoundedToZeroHasNoSign) {
  EXPECT_EQ(FormatFloat("0.00", -0.001), "0,00");  // fpc: -0,00
  EXPECT_EQ(FormatFloat("#,##0.00", -0.004), "0,00");
  EXPECT_EQ(FormatFloat("0.00;(0.00)", -0.001), "0,00");  // fpc: (0,00)
  EXPECT_EQ(FormatFloat("0.00;(0.00);zero", -0.001), "zero");
  EXPECT_EQ(FormatFloat("0.00;(0.00);zero", 0.001), "zero");
  EXPECT_EQ(FormatFloat("0", -0.4), "0");
  EXPECT_EQ(FormatFloat("0.00", -0.0), "0,00");
}

TEST_F(FormatFloatTest, QuotedLiterals) {
  EXPECT_EQ(FormatFloat("\"R$ \"#,##0.00", 12.5), "R$ 12,50");
  EXPECT_EQ(FormatFloat("0.0' %'", 12.5), "12,5 %");
  EXPECT_EQ(FormatFloat("'#'0", 7), "#7");
  EXPECT_EQ(FormatFloat("0 'pessoas'", 3), "3 pessoas");
  EXPECT_EQ(FormatFloat("0.00;'menos '0.00", -2), "menos 2,00");
  EXPECT_EQ(FormatFloat("'a;b' 0", 1), "a;b 1");  // ";" inside quotes is no section
  EXPECT_EQ(FormatFloat("0x", 5), "5x");            // other characters are literal
}

TEST_F(FormatFloatTest, Scientific) {
  EXPECT_EQ(FormatFloat("0.00E+00", 12345), "1,23E+04");
  EXPECT_EQ(FormatFloat("0.00E+00", -12345), "-1,23E+04");
  EXPECT_EQ(FormatFloat("0.00E+00", 0.00012345), "1,23E-04");
  EXPECT_EQ(FormatFloat("0.00E+00", 0), "0,00E+00");
  EXPECT_EQ(FormatFloat("0.###E-0", 12345), "1,235E4");  // "E-": sign only when negative
  EXPECT_EQ(FormatFloat("0.00e+000", 1.5), "1,50e+000");
  EXPECT_EQ(FormatFloat("00.0E+0", 12345), "12,3E+3");
}

TEST_F(FormatFloatTest, OutOfRangeOrEmptyFallsBackToFloatToStr) {
  EXPECT_EQ(FormatFloat("0", 1e20), "1E20");
  EXPECT_EQ(FormatFloat("", 1.5), "1,5");
  EXPECT_EQ(FormatFloat(";", 1.5), "1,5");
  EXPECT_EQ(FormatFloat("0.00", std::numeric_limits<double>::infinity()), "INF");
  EXPECT_EQ(FormatFloat("0.00", std::numeric_limits<double>::quiet_NaN()), "NAN");
}

TEST_F(FormatFloatTest, SeparatorsFromTheSettings) {
  TFormatSettings fs = TFormatSettings::BrazilianPortuguese();
  fs.ThousandSeparator = ' ';
  EXPECT_EQ(FormatFloat("#,##0.00", -1234.5, fs), "-1 234,50");
  fs.ThousandSeparator = 0;  // no separator
  EXPECT_EQ(FormatFloat("#,##0.00", 1234.5, fs), "1234,50");
  fs.DecimalSeparator = '.';
  fs.ThousandSeparator = ',';
  EXPECT_EQ(FormatFloat("#,##0.00", 1234.5, fs), "1,234.50");
}

// ---------------------------------------------------------------- StrToFloat

using StrToFloatTest = PtBr;

TEST_F(StrToFloatTest, ReadsTheDecimalSeparator) {
  EXPECT_EQ(StrToFloat("1,5"), 1.5);
  EXPECT_EQ(StrToFloat("-1,25"), -1.25);
  EXPECT_EQ(StrToFloat("+1"), 1.0);
  EXPECT_EQ(StrToFloat("1,"), 1.0);
  EXPECT_EQ(StrToFloat(",5"), 0.5);
  EXPECT_EQ(StrToFloat("0,1"), 0.1);  // correctly rounded
  EXPECT_EQ(StrToFloat("123456789012345678"), 123456789012345678.0);
}

TEST_F(StrToFloatTest, BlanksAroundAndExponents) {
  EXPECT_EQ(StrToFloat(" 1,5 "), 1.5);
  EXPECT_EQ(StrToFloat("1E3"), 1000.0);
  EXPECT_EQ(StrToFloat("1,5e-2"), 0.015);
  EXPECT_EQ(StrToFloat("2,5E+2"), 250.0);
}

TEST_F(StrToFloatTest, RefusesWhatIsNotANumberInPtBr) {
  double d = 7;
  EXPECT_FALSE(TryStrToFloat("1.5", d));      // "." is not the decimal separator
  EXPECT_FALSE(TryStrToFloat("1.000,5", d));  // no thousands separators
  EXPECT_FALSE(TryStrToFloat("1 000", d));
  EXPECT_FALSE(TryStrToFloat("", d));
  EXPECT_FALSE(TryStrToFloat("  ", d));
  EXPECT_FALSE(TryStrToFloat(",", d));  // a separator without digits (fpc reads 0)
  EXPECT_FALSE(TryStrToFloat("1e", d));
  EXPECT_FALSE(TryStrToFloat("abc", d));
  EXPECT_FALSE(TryStrToFloat("1,5x", d));
  EXPECT_FALSE(TryStrToFloat("1e999", d));  // out of range
  EXPECT_EQ(d, 7);
  EXPECT_THROW(StrToFloat("1.5"), EConvertError);
  try {
    StrToFloat("abc");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'abc' is not a valid floating point value");
  }
}

TEST_F(StrToFloatTest, OtherSettings) {
  TFormatSettings us = TFormatSettings::BrazilianPortuguese();
  us.DecimalSeparator = '.';
  us.ThousandSeparator = ',';
  double d;
  EXPECT_TRUE(TryStrToFloat("1.5", d, us));
  EXPECT_EQ(d, 1.5);
  EXPECT_FALSE(TryStrToFloat("1,5", d, us));
}

TEST_F(StrToFloatTest, RoundTripsFloatToStr) {
  for (double v : {0.1, 1.5, -2.25, 1234567.125, 1e-5, 1.5e20, 0.000123}) {
    EXPECT_DOUBLE_EQ(StrToFloat(FloatToStr(v)), v) << FloatToStr(v);
  }
}

using StrToIntTest = PtBr;

TEST_F(StrToIntTest, DecimalAndHexadecimal) {
  EXPECT_EQ(StrToInt("42"), 42);
  EXPECT_EQ(StrToInt("-42"), -42);
  EXPECT_EQ(StrToInt(" 7"), 7);
  EXPECT_EQ(StrToInt("$FF"), 255);
  EXPECT_EQ(StrToInt("0x10"), 16);
  EXPECT_EQ(StrToInt("9223372036854775807"), INT64_MAX);
  EXPECT_EQ(StrToInt("-9223372036854775808"), INT64_MIN);
  long long v = 1;
  EXPECT_FALSE(TryStrToInt("9223372036854775808", v));
  EXPECT_FALSE(TryStrToInt("1,5", v));
  EXPECT_FALSE(TryStrToInt("7 ", v));
  EXPECT_FALSE(TryStrToInt("", v));
  EXPECT_FALSE(TryStrToInt("-", v));
  EXPECT_EQ(v, 1);
  EXPECT_EQ(StrToInt("x1F"), 31);  // Val also reads an "x" prefix
  EXPECT_THROW(StrToInt("1x"), EConvertError);
  EXPECT_EQ(IntToStr(-1234567), "-1234567");
}

// ------------------------------------------------------------------ Rounding

TEST(Round, BankersRounding) {
  EXPECT_EQ(Round(0.5), 0);
  EXPECT_EQ(Round(1.5), 2);
  EXPECT_EQ(Round(2.5), 2);
  EXPECT_EQ(Round(3.5), 4);
  EXPECT_EQ(Round(-0.5), 0);
  EXPECT_EQ(Round(-1.5), -2);
  EXPECT_EQ(Round(-2.5), -2);
  EXPECT_EQ(Round(2.5000001), 3);
  EXPECT_EQ(Round(2.4999999), 2);
  EXPECT_EQ(Round(-2.6), -3);
  EXPECT_EQ(Round(1e15 + 0.5), 1000000000000000);
  EXPECT_THROW(Round(1e19), EConvertError);
}

TEST(Trunc, TowardsZero) {
  EXPECT_EQ(Trunc(2.7), 2);
  EXPECT_EQ(Trunc(-2.7), -2);
  EXPECT_EQ(Trunc(-0.1), 0);
  EXPECT_EQ(Int(-2.75), -2.0);
  EXPECT_EQ(Int(2.75), 2.0);
  EXPECT_EQ(Frac(2.75), 0.75);
  EXPECT_EQ(Frac(-2.75), -0.75);  // keeps the sign
  EXPECT_THROW(Trunc(std::numeric_limits<double>::quiet_NaN()), EConvertError);
}

// Int(value / 10^digits +- 0.5) * 10^digits with the FPU's 80-bit
// intermediates: half away from zero, and a double just below the decimal
// tie (1.005, 2.675) rounds down.
TEST(SimpleRoundTo, HalfAwayFromZero) {
  EXPECT_DOUBLE_EQ(SimpleRoundTo(0.125, -2), 0.13);
  EXPECT_DOUBLE_EQ(SimpleRoundTo(-0.125, -2), -0.13);
  EXPECT_DOUBLE_EQ(SimpleRoundTo(2.5, 0), 3.0);
  EXPECT_DOUBLE_EQ(SimpleRoundTo(-2.5, 0), -3.0);
  EXPECT_DOUBLE_EQ(SimpleRoundTo(1234.5, 0), 1235.0);
  EXPECT_DOUBLE_EQ(SimpleRoundTo(1250, 2), 1300.0);
  EXPECT_DOUBLE_EQ(SimpleRoundTo(1234.5678, -2), 1234.57);
  EXPECT_DOUBLE_EQ(SimpleRoundTo(1234.5678), 1234.57);  // two decimals by default
  EXPECT_DOUBLE_EQ(SimpleRoundTo(1.005, -2), 1.0);
  EXPECT_DOUBLE_EQ(SimpleRoundTo(2.675, -2), 2.67);
  EXPECT_DOUBLE_EQ(SimpleRoundTo(-2.675, -2), -2.67);
  EXPECT_DOUBLE_EQ(SimpleRoundTo(0.285, -2), 0.28);
  EXPECT_DOUBLE_EQ(SimpleRoundTo(1.45, -1), 1.4);
  EXPECT_EQ(FormatFloat("0.00", SimpleRoundTo(10.0 / 3, -2)), "3,33");
}

}  // namespace
}  // namespace rtl
