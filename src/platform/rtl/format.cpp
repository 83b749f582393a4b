#include "format.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "exceptions.h"
#include "variant.h"

namespace rtl {

// ---------------------------------------------------------------------------
// Settings

TFormatSettings TFormatSettings::BrazilianPortuguese() { return TFormatSettings{}; }

namespace {
TFormatSettings& globalSettings() {
  static TFormatSettings settings;
  return settings;
}
}  // namespace

TFormatSettings& FormatSettings() { return globalSettings(); }
void SetFormatSettings(const TFormatSettings& settings) { globalSettings() = settings; }

// ---------------------------------------------------------------------------
// Decimal digits of a double
//
// The platform converts a float to a TFloatRec: up to 18 significant decimal
// digits (no trailing zeros) and an exponent, value = 0.d1d2d3... * 10^exponent.
// It first takes 18 digits from the FPU (round to nearest) and then rounds
// those digits half up at the position asked for (significant digits or
// decimals). The general format (FloatToStr) instead rounds the exact binary
// value once, half away from zero, at the 15th digit.

namespace {

struct FloatRec {
  int exponent = 0;
  bool negative = false;
  std::string digits;  // empty: zero
  bool nan = false;
  bool inf = false;
};

// The first n significant digits of a > 0 (correctly rounded, half to even on
// the exact value, as the C library does) and the exponent (0.ddd * 10^exp).
void leadingDigits(double a, int n, std::string& digits, int& exponent) {
  char stack[96];
  std::string heap;
  char* buf = stack;
  size_t size = sizeof stack;
  if (n > 60) {
    heap.resize(static_cast<size_t>(n) + 32);
    buf = heap.data();
    size = heap.size();
  }
  std::snprintf(buf, size, "%.*e", n - 1, a);
  digits.clear();
  const char* p = buf;
  digits.push_back(*p++);
  if (*p == '.') {
    ++p;
    while (*p != 'e') digits.push_back(*p++);
  }
  exponent = std::atoi(p + 1) + 1;
}

// Adds one unit at the last digit; returns true when the carry ran out ("999" -> "000").
bool incrementDigits(std::string& d) {
  for (size_t i = d.size(); i-- > 0;) {
    if (d[i] != '9') {
      ++d[i];
      return false;
    }
    d[i] = '0';
  }
  return true;
}

void stripTrailingZeros(std::string& d) {
  while (!d.empty() && d.back() == '0') d.pop_back();
}

FloatRec special(double v) {
  FloatRec r;
  if (std::isnan(v)) {
    r.nan = true;
  } else {
    r.inf = true;
    r.negative = v < 0;
  }
  return r;
}

// value rounded once to n significant digits, half away from zero on the exact value.
FloatRec exactRound(double v, int n) {
  if (!std::isfinite(v)) return special(v);
  FloatRec r;
  if (v == 0) return r;
  const double a = std::fabs(v);
  std::string s;
  int e;
  // Three digits more tell up from down, except when they read "500": then the
  // exact expansion settles whether that is a tie or a value just below it.
  leadingDigits(a, n + 3, s, e);
  bool up;
  const char next = s[static_cast<size_t>(n)];
  if (next != '5') {
    up = next > '5';
  } else if (s.find_first_not_of('0', static_cast<size_t>(n) + 1) != std::string::npos) {
    up = true;
  } else {
    // Looks like a tie: settle it on the exact expansion (at most 767 digits).
    std::string exact;
    int ee;
    leadingDigits(a, 800, exact, ee);
    up = exact[static_cast<size_t>(n)] >= '5';
  }
  s.resize(static_cast<size_t>(n));
  if (up && incrementDigits(s)) {
    s = "1";
    ++e;
  }
  stripTrailingZeros(s);
  r.negative = v < 0;
  r.exponent = e;
  r.digits = std::move(s);
  return r;
}

// The platform's FloatToDecimal: 18 digits, then half up at
// min(precision, exponent + decimals) digits. Nothing left of the value (all
// digits rounded away) gives an empty digit string and no sign.
FloatRec floatToDecimal(double v, int precision, int decimals) {
  if (!std::isfinite(v)) return special(v);
  FloatRec r;
  if (v == 0) return r;
  std::string d;
  int e;
  leadingDigits(std::fabs(v), 18, d, e);
  long long n = static_cast<long long>(e) + decimals;
  if (n < 0) return r;
  if (n > precision) n = precision;
  if (n < 18) {
    const bool up = d[static_cast<size_t>(n)] >= '5';
    d.resize(static_cast<size_t>(n));
    if (up && incrementDigits(d)) {
      d = "1";
      ++e;
    }
  }
  stripTrailingZeros(d);
  if (d.empty()) {
    // Rounded down to zero at the first digit: no sign, but the platform keeps
    // the exponent (FormatFloat('#.##', 0.001) gives ',00', as it does there).
    r.exponent = e;
    return r;
  }
  r.negative = v < 0;
  r.exponent = e;
  r.digits = std::move(d);
  return r;
}

void appendExponent(std::string& out, char letter, bool plusSign, bool zero, int exponent, int minDigits) {
  out += letter;
  if (zero) exponent = 0;
  if (exponent < 0) {
    out += '-';
    exponent = -exponent;
  } else if (plusSign) {
    out += '+';
  }
  std::string n = std::to_string(exponent);
  if (static_cast<int>(n.size()) < minDigits) out.append(static_cast<size_t>(minDigits) - n.size(), '0');
  out += n;
}

enum class FloatFormat { General, Exponent, Fixed, Number, Currency };

std::string infNan(const FloatRec& r) {
  if (r.nan) return "NAN";
  return r.negative ? "-INF" : "INF";
}

// ffGeneral laid out from digits already rounded to precision.
std::string putGeneral(const FloatRec& r, int precision, int expDigits, const TFormatSettings& fs) {
  if (r.nan || r.inf) return infNan(r);
  if (r.digits.empty()) return "0";
  std::string out;
  if (r.negative) out += '-';
  const std::string& d = r.digits;
  const int e = r.exponent;
  if (e > precision || e < -3) {
    out += d[0];
    if (d.size() > 1) {
      out += fs.DecimalSeparator;
      out.append(d, 1, std::string::npos);
    }
    appendExponent(out, 'E', false, false, e - 1, expDigits > 4 ? 0 : expDigits);
  } else if (e <= 0) {
    out += '0';
    out += fs.DecimalSeparator;
    out.append(static_cast<size_t>(-e), '0');
    out += d;
  } else {
    const size_t ie = static_cast<size_t>(e);
    if (d.size() <= ie) {
      out += d;
      out.append(ie - d.size(), '0');
    } else {
      out.append(d, 0, ie);
      out += fs.DecimalSeparator;
      out.append(d, ie, std::string::npos);
    }
  }
  return out;
}

// Fixed-point digits (ffFixed, ffNumber, the number inside ffCurrency).
void putNumber(std::string& out, const FloatRec& r, int digits, bool thousands, const TFormatSettings& fs) {
  if (digits > 18) digits = 18;
  size_t di = 0;
  auto next = [&]() { return di < r.digits.size() ? r.digits[di++] : '0'; };
  const int e = r.exponent;
  if (e <= 0) {
    out += '0';
  } else {
    int group = thousands ? (e - 1) % 3 + 1 : 0;
    for (int i = e; i > 0; --i) {
      out += next();
      if (thousands && i > 1 && --group == 0) {
        if (fs.ThousandSeparator) out += fs.ThousandSeparator;
        group = 3;
      }
    }
  }
  if (digits > 0) {
    if (fs.DecimalSeparator) out += fs.DecimalSeparator;
    int lead = e < 0 ? -e : 0;
    while (digits > 0 && lead > 0) {
      out += '0';
      --digits;
      --lead;
    }
    while (digits-- > 0) out += next();
  }
}

// The platform's FloatToText.
std::string floatToText(double v, FloatFormat format, int precision, int digits, const TFormatSettings& fs) {
  if (precision < 2) precision = 2;
  if (precision > 18) precision = 18;
  if (format == FloatFormat::General) return putGeneral(exactRound(v, precision), precision, digits, fs);
  const FloatRec r = floatToDecimal(v, precision, format == FloatFormat::Exponent ? 9999 : digits);
  if (r.nan || r.inf) return infNan(r);
  if (format != FloatFormat::Exponent && r.exponent > precision)
    return putGeneral(exactRound(v, precision), precision, digits, fs);
  std::string out;
  switch (format) {
    case FloatFormat::Exponent: {
      if (r.negative) out += '-';
      size_t di = 0;
      auto next = [&]() { return di < r.digits.size() ? r.digits[di++] : '0'; };
      out += next();
      out += fs.DecimalSeparator;
      for (int i = 1; i < precision; ++i) out += next();
      appendExponent(out, 'E', true, r.digits.empty(), r.exponent - 1, digits > 4 ? 0 : digits);
      break;
    }
    case FloatFormat::Fixed:
    case FloatFormat::Number:
      if (r.negative) out += '-';
      putNumber(out, r, digits, format == FloatFormat::Number, fs);
      break;
    case FloatFormat::Currency: {
      static const char* const kPositive[] = {"$*", "*$", "$ *", "* $"};
      static const char* const kNegative[] = {"($*)", "-$*",  "$-*",  "$*-",  "(*$)",  "-*$",  "*-$",   "*$-",
                                              "-* $", "-$ *", "* $-", "$ *-", "$ -*", "*- $", "($ *)", "(* $)"};
      const char* tpl = r.negative ? kNegative[std::min<int>(fs.NegCurrFormat, 15)]
                                   : kPositive[std::min<int>(fs.CurrencyFormat, 3)];
      for (const char* p = tpl; *p; ++p) {
        if (*p == '$')
          out += fs.CurrencyString;
        else if (*p == '*')
          putNumber(out, r, digits, true, fs);
        else
          out += *p;
      }
      break;
    }
    case FloatFormat::General:
      break;
  }
  return out;
}

}  // namespace

std::string FloatToStr(double value) { return FloatToStr(value, FormatSettings()); }

std::string FloatToStr(double value, const TFormatSettings& fs) {
  return putGeneral(exactRound(value, 15), 15, 0, fs);
}

// ---------------------------------------------------------------------------
// FormatFloat

namespace {

struct SectionScan {
  int digitCount = 0;
  int decimalIndex = -1;
  int firstDigit = 0;
  int lastDigit = 0;
  bool thousandSep = false;
  bool scientific = false;
};

// The start of section `index` ("pos;neg;zero"). A missing or empty section
// falls back to the first; `empty` tells whether the section chosen is empty.
size_t findSection(std::string_view f, int index, bool& empty) {
  size_t i = 0;
  int left = index;
  bool found = left == 0;
  while (!found && i < f.size()) {
    const char c = f[i++];
    if (c == '\'' || c == '"') {
      const size_t close = f.find(c, i);
      if (close == std::string_view::npos) {
        i = f.size();
        break;
      }
      i = close + 1;
    } else if (c == ';') {
      if (--left == 0) found = true;
    }
  }
  if (found && i < f.size() && f[i] != ';') {
    empty = false;
    return i;
  }
  empty = f.empty() || f[0] == ';';
  return 0;
}

SectionScan scanSection(std::string_view f, size_t pos) {
  SectionScan s;
  int firstZero = 32767;
  int afterLastZero = 0;
  size_t i = pos;
  while (i < f.size()) {
    const char c = f[i++];
    if (c == ';') break;
    switch (c) {
      case '#':
        ++s.digitCount;
        break;
      case '0':
        if (s.digitCount < firstZero) firstZero = s.digitCount;
        ++s.digitCount;
        afterLastZero = s.digitCount;
        break;
      case '.':
        if (s.decimalIndex == -1) s.decimalIndex = s.digitCount;
        break;
      case ',':
        s.thousandSep = true;
        break;
      case '\'':
      case '"': {
        const size_t close = f.find(c, i);
        i = close == std::string_view::npos ? f.size() : close + 1;
        break;
      }
      case 'E':
      case 'e':
        if (i < f.size() && (f[i] == '+' || f[i] == '-')) {
          s.scientific = true;
          ++i;
          while (i < f.size() && f[i] == '0') ++i;
        }
        break;
      default:
        break;
    }
  }
  if (s.decimalIndex == -1) s.decimalIndex = s.digitCount;
  s.lastDigit = std::min(0, s.decimalIndex - afterLastZero);
  s.firstDigit = std::max(0, s.decimalIndex - firstZero);
  return s;
}

std::string applyFormat(std::string_view f, size_t pos, const SectionScan& s, const FloatRec& r,
                        const TFormatSettings& fs) {
  int digitPlace;
  int digitDelta;
  if (s.scientific) {
    digitPlace = s.decimalIndex;
    digitDelta = 0;
  } else {
    digitPlace = std::max(r.exponent, s.decimalIndex);
    digitDelta = r.exponent - s.decimalIndex;
  }
  std::string out;
  size_t di = 0;
  if (r.negative && pos == 0) out += '-';

  auto write = [&](char digit) {
    if (digitPlace == 0) {
      if (fs.DecimalSeparator) out += fs.DecimalSeparator;
      out += digit;
    } else {
      out += digit;
      if (s.thousandSep && digitPlace > 1 && digitPlace % 3 == 1 && fs.ThousandSeparator)
        out += fs.ThousandSeparator;
    }
    --digitPlace;
  };
  auto nextDigit = [&]() {
    if (di < r.digits.size())
      write(r.digits[di++]);
    else if (digitPlace <= s.lastDigit)
      --digitPlace;
    else
      write('0');
  };
  auto placeholder = [&]() {
    if (digitDelta == 0) {
      nextDigit();
    } else if (digitDelta < 0) {
      ++digitDelta;
      if (digitPlace <= s.firstDigit)
        write('0');
      else
        --digitPlace;
    } else {
      while (digitDelta > 0) {
        nextDigit();
        --digitDelta;
      }
      nextDigit();
    }
  };

  size_t i = pos;
  while (i < f.size()) {
    const char c = f[i++];
    switch (c) {
      case '#':
      case '0':
        placeholder();
        break;
      case '.':
      case ',':
        break;
      case '\'':
      case '"': {
        const size_t close = f.find(c, i);
        if (close == std::string_view::npos) {
          out.append(f.substr(i));
          return out;
        }
        out.append(f.substr(i, close - i));
        i = close + 1;
        break;
      }
      case 'E':
      case 'e':
        if (i < f.size() && (f[i] == '+' || f[i] == '-')) {
          const bool plus = f[i] == '+';
          ++i;
          int zeros = 0;
          while (i < f.size() && f[i] == '0') {
            ++zeros;
            ++i;
          }
          appendExponent(out, c, plus, r.digits.empty(), r.exponent - s.decimalIndex, std::min(zeros, 4));
        } else {
          out += c;
        }
        break;
      case ';':
        return out;
      default:
        out += c;
        break;
    }
  }
  return out;
}

}  // namespace

std::string FormatFloat(std::string_view pattern, double value) {
  return FormatFloat(pattern, value, FormatSettings());
}

std::string FormatFloat(std::string_view f, double value, const TFormatSettings& fs) {
  if (!std::isfinite(value)) return FloatToStr(value, fs);
  const int index = value == 0 && !std::signbit(value) ? 2 : (std::signbit(value) ? 1 : 0);
  bool empty;
  size_t pos = findSection(f, index, empty);
  if (empty) return FloatToStr(value, fs);
  SectionScan s = scanSection(f, pos);
  const FloatRec r = s.scientific ? floatToDecimal(value, s.digitCount, 9999)
                                  : floatToDecimal(value, 18, s.digitCount - s.decimalIndex);
  if (!s.scientific && r.exponent > 18) return FloatToStr(value, fs);
  if (r.digits.empty()) {
    // Rounded to zero: the zero section when there is one, else the first.
    const size_t zero = findSection(f, 2, empty);
    if (empty) return FloatToStr(value, fs);
    if (zero != pos) {
      pos = zero;
      s = scanSection(f, pos);
    }
  }
  return applyFormat(f, pos, s, r, fs);
}

// ---------------------------------------------------------------------------
// Text to number

bool TryStrToFloat(std::string_view text, double& out) { return TryStrToFloat(text, out, FormatSettings()); }

bool TryStrToFloat(std::string_view text, double& out, const TFormatSettings& fs) {
  // Blanks, sign, digits with the decimal separator, optional exponent, blanks.
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && text[i] == ' ') ++i;
  std::string buf;
  buf.reserve(n);
  if (i < n && (text[i] == '+' || text[i] == '-')) buf += text[i++];
  size_t digits = 0;
  while (i < n && text[i] >= '0' && text[i] <= '9') {
    buf += text[i++];
    ++digits;
  }
  if (i < n && text[i] == fs.DecimalSeparator && fs.DecimalSeparator != 0) {
    ++i;
    buf += '.';
    while (i < n && text[i] >= '0' && text[i] <= '9') {
      buf += text[i++];
      ++digits;
    }
  }
  if (digits == 0) return false;
  if (i < n && (text[i] == 'E' || text[i] == 'e')) {
    buf += 'e';
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) buf += text[i++];
    size_t expDigits = 0;
    while (i < n && text[i] >= '0' && text[i] <= '9') {
      buf += text[i++];
      ++expDigits;
    }
    if (expDigits == 0) return false;
  }
  while (i < n && text[i] == ' ') ++i;
  if (i != n) return false;
  errno = 0;
  char* end = nullptr;
  const double d = std::strtod(buf.c_str(), &end);
  if (end != buf.c_str() + buf.size()) return false;
  if (std::isinf(d)) return false;
  out = d;
  return true;
}

double StrToFloat(std::string_view text) { return StrToFloat(text, FormatSettings()); }

double StrToFloat(std::string_view text, const TFormatSettings& fs) {
  double d;
  if (!TryStrToFloat(text, d, fs))
    throw EConvertError("'" + std::string(text) + "' is not a valid floating point value");
  return d;
}

std::string IntToStr(long long value) { return std::to_string(value); }

bool TryStrToInt(std::string_view text, long long& out) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int base = 10;
  if (i < n && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  } else if (i < n && (text[i] == 'x' || text[i] == 'X')) {
    base = 16;
    ++i;
  }
  if (i >= n) return false;
  unsigned long long v = 0;
  const unsigned long long limit = negative ? 9223372036854775808ull : 9223372036854775807ull;
  for (; i < n; ++i) {
    const char c = text[i];
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return false;
    if (v > (limit - static_cast<unsigned>(d)) / static_cast<unsigned>(base)) {
      if (base == 16 && !negative && v <= (~0ull - static_cast<unsigned>(d)) / 16) {
        // Hexadecimal literals may use the sign bit ($FFFFFFFFFFFFFFFF = -1).
        v = v * 16 + static_cast<unsigned>(d);
        continue;
      }
      return false;
    }
    v = v * static_cast<unsigned>(base) + static_cast<unsigned>(d);
  }
  out = negative ? static_cast<long long>(0 - v) : static_cast<long long>(v);
  return true;
}

long long StrToInt(std::string_view text) {
  long long v;
  if (!TryStrToInt(text, v)) throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
  return v;
}

// ---------------------------------------------------------------------------
// Dates as text

namespace {

int currentYear() { return DecodeDate(Date()).year; }

void appendNumber(std::string& out, int value, int minDigits) {
  std::string s = std::to_string(value);
  if (static_cast<int>(s.size()) < minDigits) out.append(static_cast<size_t>(minDigits) - s.size(), '0');
  out += s;
}

bool startsWithNoCase(std::string_view s, size_t pos, std::string_view what) {
  if (pos + what.size() > s.size()) return false;
  for (size_t i = 0; i < what.size(); ++i) {
    char a = s[pos + i];
    char b = what[i];
    if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 32);
    if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 32);
    if (a != b) return false;
  }
  return true;
}

void formatDateTimeInto(std::string& out, std::string_view f, TDateTime value, const TFormatSettings& fs, int level) {
  const DateParts date = DecodeDate(value);
  int hour, minute, second, msec;
  DecodeTime(value, hour, minute, second, msec);
  const int dow = DayOfWeek(value);  // 1 = Sunday
  bool use12 = false;
  char lastToken = ' ';
  size_t i = 0;
  const size_t n = f.size();
  while (i < n) {
    const char starter = f[i];
    char token = starter;
    if (token >= 'a' && token <= 'z') token = static_cast<char>(token - 32);
    if (token >= 'A' && token <= 'Z') {
      if (token == 'M' && lastToken == 'H') token = 'N';
      lastToken = token;
    }
    ++i;
    auto count = [&]() {
      int c = 1;
      while (i < n && f[i] == starter) {
        ++c;
        ++i;
      }
      return c;
    };
    switch (token) {
      case 'Y': {
        const int c = count();
        if (c <= 2)
          appendNumber(out, date.year % 100, 2);
        else
          appendNumber(out, date.year, 4);
        break;
      }
      case 'M': {
        const int c = count();
        if (date.month < 1) break;
        if (c <= 2)
          appendNumber(out, date.month, c);
        else if (c == 3)
          out += fs.ShortMonthNames[static_cast<size_t>(date.month - 1)];
        else
          out += fs.LongMonthNames[static_cast<size_t>(date.month - 1)];
        break;
      }
      case 'D': {
        const int c = count();
        switch (c) {
          case 1:
          case 2:
            appendNumber(out, date.day, c);
            break;
          case 3:
            out += fs.ShortDayNames[static_cast<size_t>(dow - 1)];
            break;
          case 4:
            out += fs.LongDayNames[static_cast<size_t>(dow - 1)];
            break;
          case 5:
            if (level < 2) formatDateTimeInto(out, fs.ShortDateFormat, value, fs, level + 1);
            break;
          default:
            if (level < 2) formatDateTimeInto(out, fs.LongDateFormat, value, fs, level + 1);
            break;
        }
        break;
      }
      case 'H': {
        int c = count();
        // 12-hour clock when an am/pm specifier follows before the next hour.
        bool quoted = false;
        for (size_t p = i; p < n; ++p) {
          const char ch = f[p];
          if (ch == '\'' || ch == '"') {
            quoted = !quoted;  // either quote toggles, as the platform scans
          } else if (quoted) {
            continue;
          } else if (ch == 'a' || ch == 'A') {
            if (startsWithNoCase(f, p, "AM/PM") || startsWithNoCase(f, p, "A/P") || startsWithNoCase(f, p, "AMPM"))
              use12 = true;
            break;
          } else if (ch == 'h' || ch == 'H') {
            break;
          }
        }
        int h = hour;
        if (use12) {
          if (h == 0)
            h = 12;
          else if (h > 12)
            h -= 12;
        }
        if (c > 2) c = 2;
        appendNumber(out, h, c);
        break;
      }
      case 'N': {
        int c = count();
        if (c > 2) c = 2;
        appendNumber(out, minute, c);
        break;
      }
      case 'S': {
        int c = count();
        if (c > 2) c = 2;
        appendNumber(out, second, c);
        break;
      }
      case 'Z': {
        int c = count();
        if (c > 3) c = 3;
        appendNumber(out, msec, c);
        break;
      }
      case 'T': {
        const int c = count();
        if (level < 2) formatDateTimeInto(out, c == 1 ? fs.ShortTimeFormat : fs.LongTimeFormat, value, fs, level + 1);
        break;
      }
      case 'C': {
        count();
        if (level < 2) {
          formatDateTimeInto(out, fs.ShortDateFormat, value, fs, level + 1);
          if (hour != 0 || minute != 0 || second != 0 || msec != 0) {
            out += ' ';
            formatDateTimeInto(out, fs.LongTimeFormat, value, fs, level + 1);
          }
        }
        break;
      }
      case 'E': {
        // The era year; the Gregorian calendar has one era, so the year itself
        // ("yy" for up to two letters without a leading zero for one).
        const int c = count();
        std::string y = std::to_string(c <= 2 ? date.year % 100 : date.year);
        if (c == 2 && y.size() < 2) y.insert(0, "0");
        out += y;
        break;
      }
      case 'G':
        count();  // era name: none for the Gregorian calendar in this port
        break;
      case 'A': {
        const size_t p = i - 1;
        if (startsWithNoCase(f, p, "AM/PM")) {
          out.append(f.substr(hour >= 12 ? p + 3 : p, 2));
          i = p + 5;
          use12 = true;
        } else if (startsWithNoCase(f, p, "A/P")) {
          out.append(f.substr(hour >= 12 ? p + 2 : p, 1));
          i = p + 3;
          use12 = true;
        } else if (startsWithNoCase(f, p, "AMPM")) {
          out += hour < 12 ? fs.TimeAMString : fs.TimePMString;
          i = p + 4;
          use12 = true;
        } else if (startsWithNoCase(f, p, "AAAA")) {
          out += fs.LongDayNames[static_cast<size_t>(dow - 1)];
          i = p + 4;
        } else if (startsWithNoCase(f, p, "AAA")) {
          out += fs.ShortDayNames[static_cast<size_t>(dow - 1)];
          i = p + 3;
        } else {
          out += starter;
        }
        break;
      }
      case '/':
        if (fs.DateSeparator) out += fs.DateSeparator;
        break;
      case ':':
        if (fs.TimeSeparator) out += fs.TimeSeparator;
        break;
      case '\'':
      case '"': {
        const size_t close = f.find(starter, i);
        if (close == std::string_view::npos) {
          out.append(f.substr(i));
          i = n;
        } else {
          out.append(f.substr(i, close - i));
          i = close + 1;
        }
        break;
      }
      default:
        out += starter;
        break;
    }
  }
}

}  // namespace

std::string FormatDateTime(std::string_view pattern, TDateTime value) {
  return FormatDateTime(pattern, value, FormatSettings());
}

std::string FormatDateTime(std::string_view pattern, TDateTime value, const TFormatSettings& fs) {
  std::string out;
  formatDateTimeInto(out, pattern.empty() ? std::string_view("c") : pattern, value, fs, 0);
  return out;
}

std::string DateToStr(TDateTime value) { return DateToStr(value, FormatSettings()); }
std::string DateToStr(TDateTime value, const TFormatSettings& fs) {
  return FormatDateTime(fs.ShortDateFormat, value, fs);
}
std::string TimeToStr(TDateTime value) { return FormatDateTime(FormatSettings().LongTimeFormat, value); }
std::string DateTimeToStr(TDateTime value) { return DateTimeToStr(value, FormatSettings()); }
std::string DateTimeToStr(TDateTime value, const TFormatSettings& fs) { return FormatDateTime("c", value, fs); }

namespace {

enum class DateOrder { MDY, DMY, YMD };

DateOrder dateOrder(std::string_view f) {
  for (char c : f) {
    switch (c) {
      case 'd':
      case 'D':
        return DateOrder::DMY;
      case 'm':
      case 'M':
        return DateOrder::MDY;
      case 'y':
      case 'Y':
        return DateOrder::YMD;
      default:
        break;
    }
  }
  return DateOrder::MDY;
}

void scanBlanks(std::string_view s, size_t& pos) {
  while (pos < s.size() && s[pos] == ' ') ++pos;
}

bool scanNumber(std::string_view s, size_t& pos, int& number, int& length) {
  scanBlanks(s, pos);
  size_t i = pos;
  int v = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9' && v < 1000) {
    v = v * 10 + (s[i] - '0');
    ++i;
  }
  if (i == pos) return false;
  length = static_cast<int>(i - pos);
  pos = i;
  number = v;
  return true;
}

bool scanChar(std::string_view s, size_t& pos, char c) {
  scanBlanks(s, pos);
  if (pos < s.size() && s[pos] == c) {
    ++pos;
    return true;
  }
  return false;
}

bool scanString(std::string_view s, size_t& pos, std::string_view what) {
  if (what.empty()) return false;
  scanBlanks(s, pos);
  if (startsWithNoCase(s, pos, what)) {
    pos += what.size();
    return true;
  }
  return false;
}

bool scanDate(std::string_view s, size_t& pos, TDateTime& out, const TFormatSettings& fs) {
  int n1, n2, n3, l1, l2, l3;
  if (!(scanNumber(s, pos, n1, l1) && scanChar(s, pos, fs.DateSeparator) && scanNumber(s, pos, n2, l2))) return false;
  int y, m, d;
  const DateOrder order = dateOrder(fs.ShortDateFormat);
  if (scanChar(s, pos, fs.DateSeparator)) {
    if (!scanNumber(s, pos, n3, l3)) return false;
    int yearLength;
    switch (order) {
      case DateOrder::MDY:
        y = n3, yearLength = l3, m = n1, d = n2;
        break;
      case DateOrder::DMY:
        y = n3, yearLength = l3, m = n2, d = n1;
        break;
      default:
        y = n1, yearLength = l1, m = n2, d = n3;
        break;
    }
    if (yearLength <= 2) {
      const int base = currentYear() - fs.TwoDigitYearCenturyWindow;
      y += base / 100 * 100;
      if (fs.TwoDigitYearCenturyWindow > 0 && y < base) y += 100;
    }
  } else {
    y = currentYear();
    if (order == DateOrder::DMY)
      d = n1, m = n2;
    else
      m = n1, d = n2;
  }
  scanChar(s, pos, fs.DateSeparator);
  scanBlanks(s, pos);
  return TryEncodeDate(y, m, d, out);
}

bool scanTime(std::string_view s, size_t& pos, TDateTime& out, const TFormatSettings& fs) {
  int baseHour = -1;
  if (scanString(s, pos, fs.TimeAMString) || scanString(s, pos, "AM"))
    baseHour = 0;
  else if (scanString(s, pos, fs.TimePMString) || scanString(s, pos, "PM"))
    baseHour = 12;
  if (baseHour >= 0) scanBlanks(s, pos);
  int hour, minute = 0, second = 0, msec = 0, junk;
  if (!scanNumber(s, pos, hour, junk)) return false;
  if (scanChar(s, pos, fs.TimeSeparator)) {
    if (!scanNumber(s, pos, minute, junk)) return false;
    if (scanChar(s, pos, fs.TimeSeparator)) {
      if (!scanNumber(s, pos, second, junk)) return false;
      if (scanChar(s, pos, fs.DecimalSeparator))
        if (!scanNumber(s, pos, msec, junk)) return false;
    }
  }
  if (baseHour < 0) {
    if (scanString(s, pos, fs.TimeAMString) || scanString(s, pos, "AM"))
      baseHour = 0;
    else if (scanString(s, pos, fs.TimePMString) || scanString(s, pos, "PM"))
      baseHour = 12;
  }
  if (baseHour >= 0) {
    if (hour == 0 || hour > 12) return false;
    if (hour == 12) hour = 0;
    hour += baseHour;
  }
  scanBlanks(s, pos);
  if (hour >= 24 || minute >= 60 || second >= 60 || msec >= 1000) return false;
  out = EncodeTime(hour, minute, second, msec);
  return true;
}

}  // namespace

bool TryStrToDate(std::string_view text, TDateTime& out) { return TryStrToDate(text, out, FormatSettings()); }

bool TryStrToDate(std::string_view text, TDateTime& out, const TFormatSettings& fs) {
  size_t pos = 0;
  TDateTime d;
  if (!scanDate(text, pos, d, fs) || pos < text.size()) return false;
  out = d;
  return true;
}

TDateTime StrToDate(std::string_view text) { return StrToDate(text, FormatSettings()); }

TDateTime StrToDate(std::string_view text, const TFormatSettings& fs) {
  TDateTime d;
  if (!TryStrToDate(text, d, fs)) throw EConvertError("'" + std::string(text) + "' is not a valid date");
  return d;
}

bool TryStrToDateTime(std::string_view text, TDateTime& out, const TFormatSettings& fs) {
  size_t pos = 0;
  TDateTime date, time = 0;
  if (!scanDate(text, pos, date, fs) || !(pos >= text.size() || scanTime(text, pos, time, fs))) {
    // A time alone.
    pos = 0;
    TDateTime t;
    if (!scanTime(text, pos, t, fs) || pos < text.size()) return false;
    out = t;
    return true;
  }
  out = date >= 0 ? date + time : date - time;
  return true;
}

TDateTime StrToDateTime(std::string_view text) {
  TDateTime d;
  if (!TryStrToDateTime(text, d, FormatSettings()))
    throw EConvertError("'" + std::string(text) + "' is not a valid date and time");
  return d;
}

// ---------------------------------------------------------------------------
// Format

namespace {

size_t utf8Length(std::string_view s) {
  size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

}  // namespace

std::string Format(std::string_view pattern, const std::vector<Variant>& args) {
  return Format(pattern, args, FormatSettings());
}

std::string Format(std::string_view f, const std::vector<Variant>& args, const TFormatSettings& fs) {
  // The platform's FormatBuf. "%" ["index:"] ["-"] [width] ["." prec] type, where
  // index, width and prec may be "*" (taken from the arguments). The variant's
  // type stands for the type of the original argument: integers for d, u, x;
  // floats (and dates) for e, f, g, n, m, integers accepted too; anything but
  // an array or a packet for s (Null and Unassigned give "").
  std::string out;
  size_t argIndex = 0;
  size_t i = 0;
  const size_t n = f.size();
  size_t directiveStart = 0;
  auto directive = [&]() { return std::string(f.substr(directiveStart, i - directiveStart)); };
  auto invalid = [&]() -> void {
    throw EConvertError("Format '" + directive() + "' invalid or incompatible with argument");
  };
  auto argument = [&]() -> const Variant& {
    if (argIndex >= args.size()) throw EConvertError("No argument for format '" + directive() + "'");
    return args[argIndex++];
  };
  // A number or "*": false at the end of the pattern.
  auto specifier = [&](int& value) -> bool {
    value = 0;
    if (i < n && f[i] == '*') {
      ++i;
      if (argIndex < args.size()) {
        const Variant& a = args[argIndex++];
        if (a.type() == VarType::Integer) value = static_cast<int>(a.toInt());
      }
      return true;
    }
    if (i < n && f[i] >= '0' && f[i] <= '9') {
      while (i < n && f[i] >= '0' && f[i] <= '9') value = value * 10 + (f[i++] - '0');
      return true;
    }
    return false;
  };
  while (i < n) {
    const char c = f[i++];
    if (c != '%') {
      out += c;
      continue;
    }
    if (i >= n) break;  // a lone "%" at the end is dropped
    if (f[i] == '%') {
      out += '%';
      ++i;
      continue;
    }
    directiveStart = i - 1;
    bool left = false;
    int number = 0;
    for (;;) {
      left = false;
      if (i < n && f[i] == '-') {
        left = true;
        ++i;
      }
      specifier(number);
      if (i < n && f[i] == ':') {
        ++i;
        argIndex = static_cast<size_t>(number);
        continue;
      }
      break;
    }
    const int width = number;
    int prec = -1;
    if (i < n && f[i] == '.') {
      ++i;
      specifier(prec);
    }
    if (i >= n) break;
    char type = f[i++];
    if (type >= 'a' && type <= 'z') type = static_cast<char>(type - 32);
    const Variant& a = argument();
    const VarType vt = a.type();
    std::string text;
    switch (type) {
      case 'D':
      case 'U':
      case 'X': {
        if (vt != VarType::Integer) invalid();
        const long long v = a.toInt();
        // An argument that fits in 32 bits was an Integer there: "%u" and "%x"
        // show it as 32 bits (-1 is FFFFFFFF).
        const bool narrow = v >= INT32_MIN && v <= INT32_MAX;
        const unsigned long long u =
            narrow ? static_cast<unsigned long long>(static_cast<uint32_t>(static_cast<int32_t>(v)))
                   : static_cast<unsigned long long>(v);
        std::string digits;
        bool negative = false;
        if (type == 'X') {
          char buf[32];
          std::snprintf(buf, sizeof buf, "%llX", u);
          digits = buf;
        } else if (type == 'U') {
          digits = std::to_string(u);
        } else {
          negative = v < 0;
          digits = negative ? std::to_string(0 - static_cast<unsigned long long>(v)) : std::to_string(v);
        }
        if (prec > 0 && prec <= 32 && static_cast<int>(digits.size()) < prec)
          digits.insert(0, static_cast<size_t>(prec) - digits.size(), '0');
        text = negative ? "-" + digits : digits;
        break;
      }
      case 'E':
      case 'F':
      case 'G':
      case 'N':
      case 'M': {
        if (vt != VarType::Double && vt != VarType::DateTime && vt != VarType::Integer) invalid();
        const double v = a.toDouble();
        const bool general = type == 'E' || type == 'G';
        int precision, digits;
        if (general) {
          precision = prec < 0 || prec > 18 ? 15 : prec;
          digits = 3;
        } else {
          precision = 18;
          digits = prec < 0 || prec > 18 ? (type == 'M' ? fs.CurrencyDecimals : 2) : prec;
        }
        const FloatFormat ff = type == 'G'   ? FloatFormat::General
                               : type == 'E' ? FloatFormat::Exponent
                               : type == 'F' ? FloatFormat::Fixed
                               : type == 'N' ? FloatFormat::Number
                                             : FloatFormat::Currency;
        text = floatToText(v, ff, precision, digits, fs);
        break;
      }
      case 'S': {
        if (vt == VarType::Array || vt == VarType::Packet) invalid();
        text = a.toString();
        if (prec >= 0 && utf8Length(text) > static_cast<size_t>(prec)) text = Utf8Copy(text, 0, static_cast<size_t>(prec));
        break;
      }
      default:
        invalid();
    }
    const size_t len = utf8Length(text);
    if (width > 0 && len < static_cast<size_t>(width)) {
      if (left)
        text.append(static_cast<size_t>(width) - len, ' ');
      else
        text.insert(0, static_cast<size_t>(width) - len, ' ');
    }
    out += text;
  }
  return out;
}

// ---------------------------------------------------------------------------
// Quotes and numbers

std::string QuotedStr(std::string_view text) { return AnsiQuotedStr(text, '\''); }

std::string AnsiQuotedStr(std::string_view text, char quote) {
  std::string out;
  out.reserve(text.size() + 2);
  out += quote;
  for (char c : text) {
    out += c;
    if (c == quote) out += quote;
  }
  out += quote;
  return out;
}

long long Round(double value) {
  // The FPU's default rounding: to nearest, ties to even.
  const double r = std::nearbyint(value);
  if (!(std::fabs(r) < 9.2233720368547758e18)) throw EConvertError("Invalid floating point operation");
  return static_cast<long long>(r);
}

long long Trunc(double value) {
  const double t = std::trunc(value);
  if (!(std::fabs(t) < 9.2233720368547758e18)) throw EConvertError("Invalid floating point operation");
  return static_cast<long long>(t);
}

double Frac(double value) { return value - std::trunc(value); }
double Int(double value) { return std::trunc(value); }

double SimpleRoundTo(double value, int digits) {
  // The platform's formula, evaluated with the 80-bit intermediates of the x87
  // unit it runs on: Int(value / 10^digits +- 0.5) * 10^digits.
  long double factor = 1.0L;
  for (int k = 0; k < std::abs(digits); ++k) factor *= 10.0L;
  if (digits < 0) factor = 1.0L / factor;
  const long double scaled = static_cast<long double>(value) / factor;
  const long double rounded = value < 0 ? std::trunc(scaled - 0.5L) : std::trunc(scaled + 0.5L);
  return static_cast<double>(rounded * factor);
}

// ---------------------------------------------------------------------------
// Text helpers

namespace {

bool isBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

// Decodes one UTF-8 character at s[i]; invalid bytes decode as themselves.
char32_t decodeUtf8(std::string_view s, size_t& i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  int extra = 0;
  char32_t cp;
  if (c < 0x80) {
    ++i;
    return c;
  } else if ((c & 0xE0) == 0xC0) {
    extra = 1;
    cp = c & 0x1F;
  } else if ((c & 0xF0) == 0xE0) {
    extra = 2;
    cp = c & 0x0F;
  } else if ((c & 0xF8) == 0xF0) {
    extra = 3;
    cp = c & 0x07;
  } else {
    ++i;
    return 0xDC00 + c;  // lone byte: kept apart, re-encoded as the same byte
  }
  if (i + static_cast<size_t>(extra) >= s.size()) {
    ++i;
    return 0xDC00 + c;
  }
  for (int k = 1; k <= extra; ++k) {
    const unsigned char cc = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
    if ((cc & 0xC0) != 0x80) {
      ++i;
      return 0xDC00 + c;
    }
    cp = (cp << 6) | (cc & 0x3F);
  }
  i += static_cast<size_t>(extra) + 1;
  return cp;
}

void encodeUtf8(std::string& out, char32_t cp) {
  if (cp >= 0xDC80 && cp <= 0xDCFF) {
    out += static_cast<char>(cp - 0xDC00);
  } else if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

char32_t upperOf(char32_t c) {
  if (c >= 'a' && c <= 'z') return c - 32;
  if (c < 0x80) return c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x17F) {
    if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
      return (c & 1) ? c - 1 : c;
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c : c - 1;
    return c;
  }
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return c - 0x20;
  if (c == 0x3C2) return 0x3A3;
  if (c >= 0x430 && c <= 0x44F) return c - 0x20;
  if (c >= 0x450 && c <= 0x45F) return c - 0x50;
  return c;
}

char32_t lowerOf(char32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c < 0x80) return c;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
  if (c == 0x178) return 0xFF;
  if (c >= 0x100 && c <= 0x17F) {
    if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
      return (c & 1) ? c : c + 1;
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c + 1 : c;
    return c;
  }
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 0x20;
  if (c >= 0x410 && c <= 0x42F) return c + 0x20;
  if (c >= 0x400 && c <= 0x40F) return c + 0x50;
  return c;
}

template <typename F>
std::string mapChars(std::string_view s, F f) {
  std::string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) encodeUtf8(out, f(decodeUtf8(s, i)));
  return out;
}

// The base letter of an accented Latin letter (for the primary comparison level).
char32_t baseLetter(char32_t c) {
  static const char kLatin1[] =
      "AAAAAAACEEEEIIII"   // C0-CF
      "DNOOOOO*OUUUUYTs"   // D0-DF
      "aaaaaaaceeeeiiii"   // E0-EF
      "dnooooo/ouuuuyty";  // F0-FF
  if (c >= 0xC0 && c <= 0xFF && c != 0xD7 && c != 0xF7 && c != 0xDE && c != 0xFE && c != 0xDF)
    return static_cast<unsigned char>(kLatin1[c - 0xC0]);
  return c;
}

}  // namespace

std::string Trim(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && isBlank(text[b])) ++b;
  while (e > b && isBlank(text[e - 1])) --e;
  return std::string(text.substr(b, e - b));
}

std::string TrimLeft(std::string_view text) {
  size_t b = 0;
  while (b < text.size() && isBlank(text[b])) ++b;
  return std::string(text.substr(b));
}

std::string TrimRight(std::string_view text) {
  size_t e = text.size();
  while (e > 0 && isBlank(text[e - 1])) --e;
  return std::string(text.substr(0, e));
}

std::string UpperCase(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return out;
}

std::string LowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return out;
}

std::string AnsiUpperCase(std::string_view text) { return mapChars(text, upperOf); }
std::string AnsiLowerCase(std::string_view text) { return mapChars(text, lowerOf); }

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

bool AnsiSameText(std::string_view a, std::string_view b) { return AnsiLowerCase(a) == AnsiLowerCase(b); }

int CompareStr(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const int d = static_cast<unsigned char>(a[i]) - static_cast<unsigned char>(b[i]);
    if (d != 0) return d;
  }
  return static_cast<int>(a.size()) - static_cast<int>(b.size());
}

int AnsiCompareText(std::string_view a, std::string_view b) {
  // Primary level: letters without accents or case; secondary: accents.
  std::u32string pa, pb, sa, sb;
  for (size_t i = 0; i < a.size();) {
    const char32_t c = lowerOf(decodeUtf8(a, i));
    pa += lowerOf(baseLetter(c));
    sa += c;
  }
  for (size_t i = 0; i < b.size();) {
    const char32_t c = lowerOf(decodeUtf8(b, i));
    pb += lowerOf(baseLetter(c));
    sb += c;
  }
  if (pa != pb) return pa < pb ? -1 : 1;
  if (sa != sb) return sa < sb ? -1 : 1;
  return 0;
}

size_t Utf8Length(std::string_view text) { return utf8Length(text); }

std::string Utf8Copy(std::string_view text, size_t first, size_t count) {
  size_t i = 0, index = 0;
  while (i < text.size() && index < first) {
    decodeUtf8(text, i);
    ++index;
  }
  const size_t start = i;
  size_t taken = 0;
  while (i < text.size() && taken < count) {
    decodeUtf8(text, i);
    ++taken;
  }
  return std::string(text.substr(start, i - start));
}

std::string StringOfChar(char c, size_t count) { return std::string(count, c); }

}  // namespace rtl
