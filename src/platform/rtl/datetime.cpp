#include "datetime.h"

#include <chrono>
#include <cmath>
#include <ctime>

#include "exceptions.h"

namespace rtl {

namespace {

constexpr int64_t kMSecsPerDay = 86400000;
// Days from 01/01/0001 to 30/12/1899 plus one: the platform's DateDelta.
constexpr int64_t kDateDelta = 693594;

// Days since 01/01/0001 (day 1) of a valid date, as the platform counts them.
int64_t daysFromCivil(int year, int month, int day) {
  static constexpr int kCumulative[2][13] = {
      {0, 0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334},
      {0, 0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335}};
  const int64_t y = year - 1;
  return y * 365 + y / 4 - y / 100 + y / 400 + kCumulative[IsLeapYear(year) ? 1 : 0][month] + day;
}

// The platform's DateTimeToTimeStamp: the value rounded to the millisecond; the
// day counted towards the epoch (truncation), the time of day from the magnitude
// of the fraction (a negative TDateTime's fraction is still the time of day).
struct TimeStamp {
  int64_t date;  // days since 01/01/0001, 1-based
  int64_t time;  // milliseconds since midnight
};

TimeStamp toTimeStamp(TDateTime value) {
  // Beyond about 290 million years the milliseconds no longer fit an int64; such
  // a value (or NaN) is no date at all, and a request may carry any double.
  if (!(std::fabs(value) <= 1e11)) throw EConvertError("Invalid date-time value");
  const int64_t ms = static_cast<int64_t>(std::llround(value * static_cast<double>(kMSecsPerDay)));
  TimeStamp ts;
  ts.date = kDateDelta + ms / kMSecsPerDay;  // C++ division truncates like Pascal's div
  ts.time = (ms < 0 ? -ms : ms) % kMSecsPerDay;
  return ts;
}

DateParts civilFromDays(int64_t days) {
  // days: 1 = 01/01/0001. Convert to the proleptic Gregorian calendar (H. Hinnant).
  // Day 1 (01/01/0001) is 306 days after the 01/03/0000 epoch of the algorithm.
  const int64_t z = days - 1 + 306;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp < 10 ? mp + 3 : mp - 9;
  const int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
  return DateParts{static_cast<int>(y), static_cast<int>(m), static_cast<int>(d)};
}

}  // namespace

bool IsLeapYear(int year) { return (year % 4 == 0) && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool IsValidDate(int year, int month, int day) {
  return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && day <= DaysInMonth(year, month);
}

bool TryEncodeDate(int year, int month, int day, TDateTime& out) {
  if (!IsValidDate(year, month, day)) return false;
  out = static_cast<double>(daysFromCivil(year, month, day) - kDateDelta);
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime result;
  if (!TryEncodeDate(year, month, day, result)) throw EConvertError("Invalid argument to date encode");
  return result;
}

TDateTime EncodeTime(int hour, int minute, int second, int msec) {
  if (hour < 0 || hour >= 24 || minute < 0 || minute >= 60 || second < 0 || second >= 60 || msec < 0 ||
      msec >= 1000)
    throw EConvertError("Invalid argument to time encode");
  const int64_t ms = ((static_cast<int64_t>(hour) * 60 + minute) * 60 + second) * 1000 + msec;
  return static_cast<double>(ms) / static_cast<double>(kMSecsPerDay);
}

DateParts DecodeDate(TDateTime value) {
  const TimeStamp ts = toTimeStamp(value);
  if (ts.date <= 0) return DateParts{};  // before 01/01/0001: the platform gives 0/0/0
  return civilFromDays(ts.date);
}

void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& msec) {
  int64_t t = toTimeStamp(value).time;
  msec = static_cast<int>(t % 1000);
  t /= 1000;
  second = static_cast<int>(t % 60);
  t /= 60;
  minute = static_cast<int>(t % 60);
  hour = static_cast<int>(t / 60);
}

namespace {
// The platform's TimeStampToDateTime: a day before the epoch carries its time
// of day as a magnitude (-1.25 is 29/12/1899 06:00).
TDateTime fromTimeStamp(int64_t date, int64_t time) {
  const double days = static_cast<double>(date - kDateDelta);
  const double t = static_cast<double>(time) / static_cast<double>(kMSecsPerDay);
  return days < 0 ? days - t : days + t;
}
}  // namespace

// As the platform's DateUtils: through the millisecond time stamp, so that the
// date agrees with DecodeDate (23:59:59.9999 is already the next day) and a
// negative value keeps its day (DateOf(-1.25) = -1, 29/12/1899).
TDateTime DateOf(TDateTime value) { return fromTimeStamp(toTimeStamp(value).date, 0); }

// The time of day, always the positive fraction (TimeOf(-1.25) = 0.25).
TDateTime TimeOf(TDateTime value) { return fromTimeStamp(kDateDelta, toTimeStamp(value).time); }

int DayOfWeek(TDateTime value) { return static_cast<int>(toTimeStamp(value).date % 7) + 1; }

TDateTime IncDay(TDateTime value, int days) {
  const TDateTime sum = value + days;
  if (value >= 0 && sum >= 0) return sum;
  // Around and before the epoch the day and the time of day are apart
  // (-1.25 + 1 day is 30/12/1899 06:00, that is 0.25): move the day only.
  const double day = std::trunc(value);
  const double time = std::fabs(value - day);
  const double newDay = day + days;
  return newDay < 0 ? newDay - time : newDay + time;
}

namespace {
TDateTime localNow(bool withTime) {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t t = system_clock::to_time_t(now);
  std::tm tm{};
  localtime_r(&t, &tm);
  TDateTime d = EncodeDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
  if (!withTime) return d;
  const int ms = static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  return d + EncodeTime(tm.tm_hour, tm.tm_min, tm.tm_sec > 59 ? 59 : tm.tm_sec, ms < 0 ? 0 : ms);
}
}  // namespace

TDateTime Date() { return localNow(false); }
TDateTime Now() { return localNow(true); }

}  // namespace rtl
