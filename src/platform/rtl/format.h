#pragma once
// Object Pascal formatting and conversion rules, with Brazilian Portuguese defaults.

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "datetime.h"
#include "text.h"  // the text helpers lived here first; callers still find them

namespace rtl {

class Variant;

struct TFormatSettings {
  char DecimalSeparator = ',';
  char ThousandSeparator = '.';
  char DateSeparator = '/';
  char TimeSeparator = ':';
  std::string ShortDateFormat = "dd/mm/yyyy";
  std::string LongDateFormat = "dddd, d' de 'mmmm' de 'yyyy";
  std::string ShortTimeFormat = "hh:nn";
  std::string LongTimeFormat = "hh:nn:ss";
  std::string CurrencyString = "R$";
  // Additions beyond the first contract (same meaning as the platform's fields).
  // CurrencyFormat 2 = "R$ 1", NegCurrFormat 9 = "-R$ 1" (Windows' pt-BR values).
  unsigned char CurrencyFormat = 2;
  unsigned char NegCurrFormat = 9;
  unsigned char CurrencyDecimals = 2;
  std::string TimeAMString = "AM";
  std::string TimePMString = "PM";
  // A two-digit year is placed in the 100 years starting this many years before
  // the current year (the platform's default, 50).
  int TwoDigitYearCenturyWindow = 50;
  // Index 0 is Sunday.
  std::array<std::string, 7> ShortDayNames{"dom", "seg", "ter", "qua", "qui", "sex", "sáb"};
  std::array<std::string, 7> LongDayNames{"domingo", "segunda-feira", "terça-feira", "quarta-feira",
                                          "quinta-feira", "sexta-feira", "sábado"};
  // Index 0 is January.
  std::array<std::string, 12> ShortMonthNames{"jan", "fev", "mar", "abr", "mai", "jun",
                                              "jul", "ago", "set", "out", "nov", "dez"};
  std::array<std::string, 12> LongMonthNames{"janeiro", "fevereiro", "março", "abril",
                                             "maio", "junho", "julho", "agosto",
                                             "setembro", "outubro", "novembro", "dezembro"};

  static TFormatSettings BrazilianPortuguese();
};

// The process-wide settings every formatting routine without an explicit
// settings argument reads. Replaceable (tests, other locales).
TFormatSettings& FormatSettings();
void SetFormatSettings(const TFormatSettings& settings);

// General format, 15 significant digits, as FloatToStr.
std::string FloatToStr(double value);
std::string FloatToStr(double value, const TFormatSettings& fs);
// Patterns such as "#,##0.00", "0.000", "#,##0.00;-#,##0.00;zero".
std::string FormatFloat(std::string_view pattern, double value);
std::string FormatFloat(std::string_view pattern, double value, const TFormatSettings& fs);
// Throws EConvertError on a text that is not a number (blanks around are allowed).
double StrToFloat(std::string_view text);
double StrToFloat(std::string_view text, const TFormatSettings& fs);
bool TryStrToFloat(std::string_view text, double& out);
bool TryStrToFloat(std::string_view text, double& out, const TFormatSettings& fs);
std::string IntToStr(long long value);
long long StrToInt(std::string_view text);
bool TryStrToInt(std::string_view text, long long& out);

std::string DateToStr(TDateTime value);
std::string DateToStr(TDateTime value, const TFormatSettings& fs);
std::string TimeToStr(TDateTime value);
// Date alone when there is no time part, as the platform does.
std::string DateTimeToStr(TDateTime value);
std::string DateTimeToStr(TDateTime value, const TFormatSettings& fs);
// Reads the short-date format's order; a two-digit year is completed. Throws
// EConvertError on an impossible date ("31/02/2024") or a text that is no date.
TDateTime StrToDate(std::string_view text);
TDateTime StrToDate(std::string_view text, const TFormatSettings& fs);
bool TryStrToDate(std::string_view text, TDateTime& out);
bool TryStrToDate(std::string_view text, TDateTime& out, const TFormatSettings& fs);
TDateTime StrToDateTime(std::string_view text);
bool TryStrToDateTime(std::string_view text, TDateTime& out, const TFormatSettings& fs);
// "ddddd", "dd/mm/yyyy", "dddd", "hh:nn:ss", quoted literals, "am/pm", ...
std::string FormatDateTime(std::string_view pattern, TDateTime value);
std::string FormatDateTime(std::string_view pattern, TDateTime value, const TFormatSettings& fs);

// Format with %s, %d, %f, %.Nf, %g, %%; arguments are variants.
std::string Format(std::string_view pattern, const std::vector<Variant>& args);
std::string Format(std::string_view pattern, const std::vector<Variant>& args, const TFormatSettings& fs);

// 'text' with embedded quotes doubled.
std::string QuotedStr(std::string_view text);
std::string AnsiQuotedStr(std::string_view text, char quote);

// Banker's rounding to an integer: 0.5 -> 0, 1.5 -> 2, 2.5 -> 2, -2.5 -> -2.
long long Round(double value);
long long Trunc(double value);
double Frac(double value);
double Int(double value);
// Rounds to n decimals with the platform's SimpleRoundTo (half away from zero
// on the decimal representation).
double SimpleRoundTo(double value, int digits = -2);

}  // namespace rtl
