#include "float_text.h"

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

namespace rtl {

// Numbers as text and back: FloatToStr, FormatFloat, StrToFloat, StrToInt.
//
// Decimal digits of a double.
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

}  // namespace

// The platform's FloatToText.
std::string detail::floatToText(double v, detail::FloatFormat format, int precision, int digits,
                                const TFormatSettings& fs) {
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

}  // namespace rtl
