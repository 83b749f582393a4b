#include <gtest/gtest.h>

#include <cmath>

#include "platform/host/checks.h"
#include "platform/host/messages.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/mask.h"
#include "contracts/result.h"

using namespace host;

TEST(TMessages, KeysMatchWithoutRegardToCaseAndFirstLineWins) {
  TMessages m;
  m.SetMessages({"Data_ini_Inf|Data inicial deve ser informada.", "Insc|Insc.: ", "QTEFET<0|Quantidade", "insc|outra"});
  EXPECT_EQ(m.Msg("Data_ini_inf"), "Data inicial deve ser informada.");
  EXPECT_EQ(m.Msg("DATA_INI_INF"), "Data inicial deve ser informada.");
  EXPECT_EQ(m.Msg("INSC"), "Insc.: ");  // trailing blank kept
  EXPECT_EQ(m.Msg("QTEFET<0"), "Quantidade");
  EXPECT_EQ(m.Msg("unknown"), "");
  EXPECT_FALSE(m.Has("unknown"));
  EXPECT_EQ(m.Count(), 4u);
  EXPECT_EQ(m.KeyAt(1), "Insc");
}

TEST(TMessages, TextMayContainBars) {
  TMessages m;
  m.Add("K", "a|b");
  EXPECT_EQ(m.Msg("k"), "a|b");
}

TEST(Ajusta, PadsShortCodesWithZerosAndKeepsOthers) {
  EXPECT_EQ(Ajusta("1", 4), "0001");
  EXPECT_EQ(Ajusta(" 12 ", 4), "0012");
  EXPECT_EQ(Ajusta("0001", 4), "0001");
  EXPECT_EQ(Ajusta("", 4), "");
  EXPECT_EQ(Ajusta("   ", 3), "");
  EXPECT_EQ(Ajusta("12345", 4), "12345");
  EXPECT_EQ(Ajusta("ab", 3), "0ab");
}

TEST(RoundDec, RoundsHalfAwayFromZeroOnTheDecimalValue) {
  EXPECT_DOUBLE_EQ(RoundDec(2.675, 2), 2.68);
  EXPECT_DOUBLE_EQ(RoundDec(-2.675, 2), -2.68);
  EXPECT_DOUBLE_EQ(RoundDec(0.1 + 0.2, 5), 0.3);
  EXPECT_DOUBLE_EQ(RoundDec(1.000005, 5), 1.00001);
  EXPECT_DOUBLE_EQ(RoundDec(1.0000049, 5), 1.0);
  EXPECT_DOUBLE_EQ(RoundDec(120, 5), 120);
  EXPECT_FALSE(std::signbit(RoundDec(-0.000001, 2)));
}

TEST(NomeSemana, NamesTheWeekday) {
  // 01/01/2024 was a Monday; TDateTime 45292.
  EXPECT_EQ(NomeSemana(45292), "Segunda");
  EXPECT_EQ(NomeSemana(45292 + 5), "Sábado");
  EXPECT_EQ(NomeSemana(45292 + 6), "Domingo");
  EXPECT_EQ(NomeSemana(0), "");
}

TEST(PictPess, MasksFormatRegistrationNumbers) {
  EXPECT_EQ(rtl::FormatMaskText(PictPess("F"), "12345678901"), "123.456.789-01");
  EXPECT_EQ(rtl::FormatMaskText(PictPess("J"), "12345678000195"), "12.345.678/0001-95");
  EXPECT_EQ(PictPess("x"), "");
}

TEST(CheckResultServ, ReturnsPayloadOrRaisesTheServerMessage) {
  EXPECT_EQ(CheckResultServ(contracts::ResultOk(rtl::Variant("payload"))).toString(), "payload");
  try {
    CheckResultServ(contracts::ResultFail("Filial inválida"));
    FAIL() << "a failed result must raise";
  } catch (const rtl::EAbort&) {
    FAIL() << "a failed result must be shown, not silent";
  } catch (const rtl::Exception& e) {
    EXPECT_STREQ(e.what(), "Filial inválida");
  }
  EXPECT_THROW(CheckResultServ(rtl::Variant()), rtl::Exception);         // no answer at all
  EXPECT_THROW(CheckResultServ(rtl::Variant("OK")), rtl::Exception);     // not a result array
  EXPECT_TRUE(CheckResultServ(contracts::ResultFail("x"), false).isEmpty());
}
