// Variant conversions follow Object Pascal: VarToStr, numbers read with the
// decimal separator, Null and Empty kept apart.

#include "platform/rtl/exceptions.h"
#include "platform/rtl/variant.h"
#include "pt_br.h"

namespace rtl {
namespace {

using VariantTest = test::PtBr;

TEST_F(VariantTest, ToStringIsVarToStr) {
  EXPECT_EQ(Variant().toString(), "");
  EXPECT_EQ(Variant::Null().toString(), "");
  EXPECT_EQ(Variant("texto").toString(), "texto");
  EXPECT_EQ(Variant(42).toString(), "42");
  EXPECT_EQ(Variant(-7LL).toString(), "-7");
  EXPECT_EQ(Variant(1.5).toString(), "1,5");
  EXPECT_EQ(Variant(0.1 + 0.2).toString(), "0,3");
  EXPECT_EQ(Variant(1e15).toString(), "1E15");
  EXPECT_EQ(Variant(3.0).toString(), "3");
  EXPECT_EQ(Variant(true).toString(), "True");
  EXPECT_EQ(Variant(false).toString(), "False");
  EXPECT_EQ(Variant::FromDate(EncodeDate(2024, 2, 1)).toString(), "01/02/2024");
  EXPECT_EQ(Variant::FromDate(EncodeDate(2024, 2, 1) + 0.5).toString(), "01/02/2024 12:00:00");
  EXPECT_THROW(VarArrayOf({1, 2}).toString(), EConvertError);
}

TEST_F(VariantTest, StringsToNumbersUseTheDecimalSeparator) {
  EXPECT_EQ(Variant("1,5").toDouble(), 1.5);
  EXPECT_EQ(Variant(" 2,25 ").toDouble(), 2.25);
  EXPECT_THROW(Variant("1.5").toDouble(), EConvertError);
  EXPECT_THROW(Variant("abc").toDouble(), EConvertError);
  EXPECT_THROW(Variant("").toDouble(), EConvertError);
  EXPECT_EQ(Variant("12").toInt(), 12);
  EXPECT_EQ(Variant("2,5").toInt(), 2);  // banker's rounding
  EXPECT_EQ(Variant("3,5").toInt(), 4);
  EXPECT_THROW(Variant("x").toInt(), EConvertError);
}

TEST_F(VariantTest, NumbersAndBooleans) {
  EXPECT_EQ(Variant(2.5).toInt(), 2);
  EXPECT_EQ(Variant(-2.5).toInt(), -2);
  EXPECT_EQ(Variant(7).toDouble(), 7.0);
  EXPECT_EQ(Variant(true).toDouble(), -1.0);  // the platform's True
  EXPECT_EQ(Variant(true).toInt(), -1);
  EXPECT_TRUE(Variant("TRUE").toBool());
  EXPECT_FALSE(Variant("false").toBool());
  EXPECT_TRUE(Variant("1,5").toBool());
  EXPECT_FALSE(Variant(0).toBool());
  EXPECT_THROW(Variant("talvez").toBool(), EConvertError);
}

TEST_F(VariantTest, EmptyIsZeroAndNullRaises) {
  EXPECT_EQ(Variant().toDouble(), 0.0);
  EXPECT_EQ(Variant().toInt(), 0);
  EXPECT_FALSE(Variant().toBool());
  EXPECT_EQ(Variant().toDateTime(), 0.0);
  EXPECT_THROW(Variant::Null().toDouble(), EConvertError);
  EXPECT_THROW(Variant::Null().toInt(), EConvertError);
  EXPECT_THROW(Variant::Null().toBool(), EConvertError);
  EXPECT_THROW(Variant::Null().toDateTime(), EConvertError);
  EXPECT_TRUE(Variant().isNullOrEmpty());
  EXPECT_TRUE(Variant::Null().isNullOrEmpty());
  EXPECT_NE(Variant(), Variant::Null());
}

TEST_F(VariantTest, DatesFromText) {
  EXPECT_EQ(Variant("01/02/2024").toDateTime(), EncodeDate(2024, 2, 1));
  EXPECT_DOUBLE_EQ(Variant("01/02/2024 06:00").toDateTime(), EncodeDate(2024, 2, 1) + 0.25);
  EXPECT_THROW(Variant("31/02/2024").toDateTime(), EConvertError);
  EXPECT_EQ(Variant(45323).toDateTime(), 45323.0);
}

TEST_F(VariantTest, Equality) {
  EXPECT_EQ(Variant(2), Variant(2.0));
  EXPECT_NE(Variant("2"), Variant(2));
  EXPECT_EQ(VarArrayOf({1, "a"}), VarArrayOf({1, "a"}));
}

}  // namespace
}  // namespace rtl
