// Dates as text with the Brazilian Portuguese settings.

#include "platform/rtl/exceptions.h"
#include "pt_br.h"

namespace rtl {
namespace {

using test::ThisYear;

class DateText : public test::PtBr {
protected:
  // Thursday, 01/02/2024 13:05:09.007
  const TDateTime when = EncodeDate(2024, 2, 1) + EncodeTime(13, 5, 9, 7);
};

TEST_F(DateText, DateToStrUsesTheShortDateFormat) {
  EXPECT_EQ(DateToStr(when), "01/02/2024");
  EXPECT_EQ(DateToStr(EncodeDate(1, 1, 1)), "01/01/0001");
  EXPECT_EQ(DateToStr(0), "30/12/1899");
  EXPECT_EQ(DateToStr(-1.25), "29/12/1899");
  EXPECT_EQ(TimeToStr(when), "13:05:09");
}

TEST_F(DateText, DateTimeToStrOmitsMidnight) {
  EXPECT_EQ(DateTimeToStr(when), "01/02/2024 13:05:09");
  EXPECT_EQ(DateTimeToStr(EncodeDate(2024, 2, 1)), "01/02/2024");
  EXPECT_EQ(DateTimeToStr(0), "30/12/1899");
  EXPECT_EQ(DateTimeToStr(EncodeDate(2024, 2, 1) + EncodeTime(0, 0, 1, 0)), "01/02/2024 00:00:01");
}

TEST_F(DateText, DayAndMonthTokens) {
  EXPECT_EQ(FormatDateTime("d dd ddd dddd", when), "1 01 qui quinta-feira");
  EXPECT_EQ(FormatDateTime("m mm mmm mmmm", when), "2 02 fev fevereiro");
  EXPECT_EQ(FormatDateTime("yy yyyy y yyy", when), "24 2024 24 2024");
  EXPECT_EQ(FormatDateTime("ddddd", when), "01/02/2024");
  EXPECT_EQ(FormatDateTime("dddddd", when), "quinta-feira, 1 de fevereiro de 2024");
  EXPECT_EQ(FormatDateTime("dddd", EncodeDate(2024, 3, 2)), "sábado");
  EXPECT_EQ(FormatDateTime("ddd", EncodeDate(2024, 3, 3)), "dom");
  EXPECT_EQ(FormatDateTime("mmmm", EncodeDate(2024, 3, 3)), "março");
  EXPECT_EQ(FormatDateTime("yyyymmdd", when), "20240201");
  EXPECT_EQ(FormatDateTime("aaaa", when), "quinta-feira");
}

TEST_F(DateText, TimeTokens) {
  EXPECT_EQ(FormatDateTime("h hh n nn s ss z zz zzz", when), "13 13 5 05 9 09 7 07 007");
  EXPECT_EQ(FormatDateTime("hh:nn:ss.zzz", EncodeTime(0, 0, 0, 999)), "00:00:00.999");
  EXPECT_EQ(FormatDateTime("t", when), "13:05");
  EXPECT_EQ(FormatDateTime("tt", when), "13:05:09");
  EXPECT_EQ(FormatDateTime("c", when), "01/02/2024 13:05:09");
  EXPECT_EQ(FormatDateTime("", when), "01/02/2024 13:05:09");  // empty means "c"
}

TEST_F(DateText, MAfterAnHourIsMinutes) {
  EXPECT_EQ(FormatDateTime("hh:mm", when), "13:05");
  EXPECT_EQ(FormatDateTime("h m", when), "13 5");  // literals between keep the hour context
  EXPECT_EQ(FormatDateTime("hh\"h\"mm", when), "13h05");
  EXPECT_EQ(FormatDateTime("mm", when), "02");
  EXPECT_EQ(FormatDateTime("hh dd mm", when), "13 01 02");
}

TEST_F(DateText, TwelveHourClock) {
  EXPECT_EQ(FormatDateTime("h:nn am/pm", when), "1:05 pm");
  EXPECT_EQ(FormatDateTime("h:nn AM/PM", when), "1:05 PM");
  EXPECT_EQ(FormatDateTime("h:nn Am/Pm", when), "1:05 Pm");
  EXPECT_EQ(FormatDateTime("h:nn a/p", when), "1:05 p");
  EXPECT_EQ(FormatDateTime("hh:nn ampm", when), "01:05 PM");
  EXPECT_EQ(FormatDateTime("h am/pm", EncodeTime(0, 30, 0, 0)), "12 am");
  EXPECT_EQ(FormatDateTime("h am/pm", EncodeTime(12, 30, 0, 0)), "12 pm");
  EXPECT_EQ(FormatDateTime("hh 'am/pm'", when), "13 am/pm");  // quoted: no 12-hour clock
}

TEST_F(DateText, SeparatorsAndLiterals) {
  EXPECT_EQ(FormatDateTime("dd/mm/yyyy", when), "01/02/2024");
  EXPECT_EQ(FormatDateTime("\"dia\" dd 'de' mmmm", when), "dia 01 de fevereiro");
  EXPECT_EQ(FormatDateTime("x q", when), "x q");  // unknown letters are literal
  TFormatSettings fs = TFormatSettings::BrazilianPortuguese();
  fs.DateSeparator = '-';
  fs.TimeSeparator = '.';
  EXPECT_EQ(FormatDateTime("dd/mm/yyyy hh:nn", when, fs), "01-02-2024 13.05");
  EXPECT_EQ(FormatDateTime("dd'/'mm", when, fs), "01/02");
}

TEST_F(DateText, StrToDateReadsDayMonthYear) {
  EXPECT_EQ(StrToDate("01/02/2024"), EncodeDate(2024, 2, 1));
  EXPECT_EQ(StrToDate("1/2/2024"), EncodeDate(2024, 2, 1));
  EXPECT_EQ(StrToDate(" 1 / 2 / 2024 "), EncodeDate(2024, 2, 1));
  EXPECT_EQ(StrToDate("29/02/2024"), EncodeDate(2024, 2, 29));
  EXPECT_EQ(StrToDate("1/2/2024/"), EncodeDate(2024, 2, 1));  // a trailing separator is allowed
  EXPECT_EQ(StrToDate("1/2/0024"), EncodeDate(24, 2, 1));     // four digits: as written
  EXPECT_EQ(StrToDate("1/2/024"), EncodeDate(24, 2, 1));      // three digits too
  EXPECT_EQ(StrToDate("15/3"), EncodeDate(ThisYear(), 3, 15));  // no year: this year
}

// TwoDigitYearCenturyWindow 50 (the platform's default): a two-digit year
// falls within the 100 years starting 50 years before the current year.
TEST_F(DateText, TwoDigitYearsUseTheCenturyWindow) {
  const int base = ThisYear() - 50;
  auto expected = [&](int yy) {
    int y = base / 100 * 100 + yy;
    if (y < base) y += 100;
    return y;
  };
  for (int yy : {0, 24, 49, 75, 76, 77, 99}) {
    const std::string text = "1/2/" + std::to_string(yy);
    EXPECT_EQ(DecodeDate(StrToDate(text)).year, expected(yy)) << text;
  }
  // Stable for decades around now:
  EXPECT_EQ(DecodeDate(StrToDate("1/2/24")).year, 2024);
  EXPECT_EQ(DecodeDate(StrToDate("1/2/99")).year, 1999);

  TFormatSettings noWindow = TFormatSettings::BrazilianPortuguese();
  noWindow.TwoDigitYearCenturyWindow = 0;  // the current century
  EXPECT_EQ(DecodeDate(StrToDate("1/2/99", noWindow)).year, ThisYear() / 100 * 100 + 99);
}

TEST_F(DateText, StrToDateRefusesImpossibleDates) {
  EXPECT_THROW(StrToDate("31/02/2024"), EConvertError);
  TDateTime d = 5;
  EXPECT_FALSE(TryStrToDate("29/02/2023", d));
  EXPECT_FALSE(TryStrToDate("00/01/2024", d));
  EXPECT_FALSE(TryStrToDate("1/13/2024", d));
  EXPECT_FALSE(TryStrToDate("31/04/2024", d));
  EXPECT_FALSE(TryStrToDate("01-02-2024", d));  // not the date separator
  EXPECT_FALSE(TryStrToDate("01/02/2024 10:00", d));
  EXPECT_FALSE(TryStrToDate("abc", d));
  EXPECT_FALSE(TryStrToDate("", d));
  EXPECT_FALSE(TryStrToDate("12345/1/2024", d));
  EXPECT_FALSE(TryStrToDate("1/2/10000", d));
  EXPECT_EQ(d, 5);
  try {
    StrToDate("31/02/2024");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'31/02/2024' is not a valid date");
  }
}

TEST_F(DateText, StrToDateFollowsTheShortDateFormatOrder) {
  TFormatSettings us = TFormatSettings::BrazilianPortuguese();
  us.ShortDateFormat = "mm/dd/yyyy";
  EXPECT_EQ(StrToDate("02/01/2024", us), EncodeDate(2024, 2, 1));
  TFormatSettings iso = TFormatSettings::BrazilianPortuguese();
  iso.ShortDateFormat = "yyyy-mm-dd";
  iso.DateSeparator = '-';
  EXPECT_EQ(StrToDate("2024-02-01", iso), EncodeDate(2024, 2, 1));
  EXPECT_EQ(DateToStr(EncodeDate(2024, 2, 1), iso), "2024-02-01");
}

TEST_F(DateText, StrToDateTime) {
  const TDateTime day = EncodeDate(2024, 2, 1);
  EXPECT_DOUBLE_EQ(StrToDateTime("01/02/2024 10:30"), day + EncodeTime(10, 30, 0, 0));
  EXPECT_DOUBLE_EQ(StrToDateTime("01/02/2024 10:30:15"), day + EncodeTime(10, 30, 15, 0));
  EXPECT_DOUBLE_EQ(StrToDateTime("01/02/2024 10:30:15,250"), day + EncodeTime(10, 30, 15, 250));
  EXPECT_DOUBLE_EQ(StrToDateTime("01/02/2024 10:30 PM"), day + EncodeTime(22, 30, 0, 0));
  EXPECT_DOUBLE_EQ(StrToDateTime("01/02/2024 12:00 am"), day);
  EXPECT_EQ(StrToDateTime("01/02/2024"), day);
  EXPECT_DOUBLE_EQ(StrToDateTime("10:30"), EncodeTime(10, 30, 0, 0));  // a time alone
  EXPECT_DOUBLE_EQ(StrToDateTime("29/12/1899 06:00"), -1.25);          // before the epoch
  TDateTime d = 5;
  const TFormatSettings& fs = FormatSettings();
  EXPECT_FALSE(TryStrToDateTime("01/02/2024 25:00", d, fs));
  EXPECT_FALSE(TryStrToDateTime("01/02/2024 xyz", d, fs));
  EXPECT_FALSE(TryStrToDateTime("31/02/2024 10:00", d, fs));
  EXPECT_FALSE(TryStrToDateTime("13:00 PM", d, fs));
  EXPECT_EQ(d, 5);
  EXPECT_THROW(StrToDateTime("amanhã"), EConvertError);
}

TEST_F(DateText, RoundTrip) {
  for (TDateTime v = EncodeDate(1990, 1, 1); v < EncodeDate(2030, 1, 1); v += 97.25) {
    EXPECT_EQ(StrToDate(DateToStr(v)), DateOf(v));
    EXPECT_DOUBLE_EQ(StrToDateTime(DateTimeToStr(v)), v);
  }
}

}  // namespace
}  // namespace rtl
