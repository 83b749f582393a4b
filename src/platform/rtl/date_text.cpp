// Dates as text and back: FormatDateTime, DateToStr, StrToDate.

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
#include "text.h"

namespace rtl {

namespace {

int currentYear() { return DecodeDate(Date()).year; }

void appendNumber(std::string& out, int value, int minDigits) {
  std::string s = std::to_string(value);
  if (static_cast<int>(s.size()) < minDigits) out.append(static_cast<size_t>(minDigits) - s.size(), '0');
  out += s;
}

bool startsWithNoCase(std::string_view s, size_t pos, std::string_view what) {
  return pos + what.size() <= s.size() && SameText(s.substr(pos, what.size()), what);
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

}  // namespace rtl
