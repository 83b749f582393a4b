// Settings, Format, quotes and rounding.

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
#include "float_text.h"
#include "text.h"
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
// Format


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
        using detail::FloatFormat;
        const FloatFormat ff = type == 'G'   ? FloatFormat::General
                               : type == 'E' ? FloatFormat::Exponent
                               : type == 'F' ? FloatFormat::Fixed
                               : type == 'N' ? FloatFormat::Number
                                             : FloatFormat::Currency;
        text = detail::floatToText(v, ff, precision, digits, fs);
        break;
      }
      case 'S': {
        if (vt == VarType::Array || vt == VarType::Packet) invalid();
        text = a.toString();
        if (prec >= 0 && Utf8Length(text) > static_cast<size_t>(prec)) text = Utf8Copy(text, 0, static_cast<size_t>(prec));
        break;
      }
      default:
        invalid();
    }
    const size_t len = Utf8Length(text);
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

}  // namespace rtl
