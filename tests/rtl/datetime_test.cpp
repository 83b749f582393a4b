// TDateTime arithmetic: days since 30/12/1899, the time of day as the fraction.

#include <gtest/gtest.h>

#include <cmath>

#include "platform/rtl/datetime.h"
#include "platform/rtl/exceptions.h"

namespace rtl {
namespace {

struct Hms {
  int h, m, s, ms;
};
Hms timeOf(TDateTime v) {
  Hms t{};
  DecodeTime(v, t.h, t.m, t.s, t.ms);
  return t;
}

TEST(EncodeDate, CountsDaysFromTheEpoch) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDate(1899, 12, 31), 1.0);
  EXPECT_EQ(EncodeDate(1900, 1, 1), 2.0);
  EXPECT_EQ(EncodeDate(2024, 2, 29), 45351.0);
  EXPECT_EQ(EncodeDate(1, 1, 1), -693593.0);
  EXPECT_EQ(EncodeDate(9999, 12, 31), 2958465.0);
}

TEST(EncodeDate, RefusesImpossibleDates) {
  TDateTime d = 123;
  EXPECT_FALSE(TryEncodeDate(2023, 2, 29, d));
  EXPECT_FALSE(TryEncodeDate(1900, 2, 29, d));  // century, not a leap year
  EXPECT_FALSE(TryEncodeDate(2024, 4, 31, d));
  EXPECT_FALSE(TryEncodeDate(2024, 2, 30, d));
  EXPECT_FALSE(TryEncodeDate(2024, 13, 1, d));
  EXPECT_FALSE(TryEncodeDate(2024, 0, 1, d));
  EXPECT_FALSE(TryEncodeDate(2024, 1, 0, d));
  EXPECT_FALSE(TryEncodeDate(0, 1, 1, d));
  EXPECT_FALSE(TryEncodeDate(10000, 1, 1, d));
  EXPECT_EQ(d, 123);  // untouched on failure
  EXPECT_TRUE(TryEncodeDate(2000, 2, 29, d));  // divisible by 400
  EXPECT_EQ(d, 36585.0);
  EXPECT_THROW(EncodeDate(2024, 2, 31), EConvertError);
}

TEST(EncodeDate, LeapYearsAndMonthLengths) {
  EXPECT_TRUE(IsLeapYear(2024));
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_FALSE(IsLeapYear(1900));
  EXPECT_FALSE(IsLeapYear(2023));
  EXPECT_EQ(DaysInMonth(2024, 2), 29);
  EXPECT_EQ(DaysInMonth(2023, 2), 28);
  EXPECT_EQ(DaysInMonth(2024, 4), 30);
  EXPECT_EQ(DaysInMonth(2024, 12), 31);
  EXPECT_FALSE(IsValidDate(2024, 6, 31));
}

TEST(DecodeDate, RoundTripsEveryDayOfTheCalendar) {
  TDateTime expected = EncodeDate(1, 1, 1);
  for (int y = 1; y <= 9999; ++y)
    for (int m = 1; m <= 12; ++m)
      for (int d = 1; d <= DaysInMonth(y, m); ++d) {
        ASSERT_EQ(EncodeDate(y, m, d), expected) << d << "/" << m << "/" << y;
        const DateParts p = DecodeDate(expected);
        ASSERT_TRUE(p.year == y && p.month == m && p.day == d) << expected;
        expected += 1;
      }
}

TEST(DecodeDate, RefusesValuesThatAreNoDate) {
  EXPECT_EQ(DecodeDate(-1e11).year, 0);  // before 01/01/0001, as the platform
  EXPECT_GT(DecodeDate(1e11).year, 9999);
  for (double bad : {1.1e11, -4.5e23, 8.9e106, HUGE_VAL, -HUGE_VAL, std::nan("")}) {
    EXPECT_THROW(DecodeDate(bad), EConvertError) << bad;
    EXPECT_THROW(DayOfWeek(bad), EConvertError) << bad;
    EXPECT_THROW(timeOf(bad), EConvertError) << bad;
  }
}

TEST(EncodeTime, IsTheFractionOfTheDay) {
  EXPECT_EQ(EncodeTime(12, 0, 0, 0), 0.5);
  EXPECT_EQ(EncodeTime(6, 0, 0, 0), 0.25);
  EXPECT_EQ(EncodeTime(0, 0, 0, 0), 0.0);
  EXPECT_DOUBLE_EQ(EncodeTime(23, 59, 59, 999), 86399999.0 / 86400000.0);
  EXPECT_THROW(EncodeTime(24, 0, 0, 0), EConvertError);
  EXPECT_THROW(EncodeTime(0, 60, 0, 0), EConvertError);
  EXPECT_THROW(EncodeTime(0, 0, 60, 0), EConvertError);
  EXPECT_THROW(EncodeTime(0, 0, 0, 1000), EConvertError);
}

TEST(DecodeTime, RoundsToTheMillisecond) {
  const Hms t = timeOf(EncodeDate(2024, 2, 1) + EncodeTime(13, 5, 9, 7));
  EXPECT_EQ(t.h, 13);
  EXPECT_EQ(t.m, 5);
  EXPECT_EQ(t.s, 9);
  EXPECT_EQ(t.ms, 7);
  const Hms last = timeOf(0.99999999);  // 86399999.1 ms
  EXPECT_EQ(last.h * 10000000 + last.m * 100000 + last.s * 1000 + last.ms, 235959999);
  // Half a millisecond before midnight is already the next day.
  const TDateTime almost = EncodeDate(2024, 2, 1) + 0.999999999999;
  const DateParts p = DecodeDate(almost);
  EXPECT_EQ(p.day, 2);
  EXPECT_EQ(timeOf(almost).h, 0);
  EXPECT_EQ(DateOf(almost), EncodeDate(2024, 2, 2));
}

// Before the epoch the day is counted towards it (truncation) and the
// fraction is the time of day by its magnitude: -1.25 is 29/12/1899 06:00.
TEST(NegativeDates, DayTowardsTheEpochAndTimeByMagnitude) {
  DateParts p = DecodeDate(-1.25);
  EXPECT_EQ(p.day, 29);
  EXPECT_EQ(p.month, 12);
  EXPECT_EQ(p.year, 1899);
  EXPECT_EQ(timeOf(-1.25).h, 6);
  p = DecodeDate(-2.75);
  EXPECT_EQ(p.day, 28);
  EXPECT_EQ(timeOf(-2.75).h, 18);
  p = DecodeDate(-0.5);  // still 30/12/1899, at noon
  EXPECT_EQ(p.day, 30);
  EXPECT_EQ(timeOf(-0.5).h, 12);

  EXPECT_EQ(DateOf(-1.25), -1.0);  // not floor(-1.25) = -2
  EXPECT_EQ(DateOf(-2.75), -2.0);
  EXPECT_EQ(DateOf(-0.5), 0.0);
  EXPECT_EQ(TimeOf(-1.25), 0.25);
  EXPECT_EQ(TimeOf(-2.75), 0.75);
  EXPECT_EQ(DayOfWeek(-1.25), 6);  // Friday 29/12/1899
  EXPECT_EQ(DayOfWeek(-2.75), 5);  // Thursday 28/12/1899
}

TEST(DateOf, DropsTheTime) {
  EXPECT_EQ(DateOf(45323.75), 45323.0);
  EXPECT_EQ(DateOf(45323.0), 45323.0);
  EXPECT_DOUBLE_EQ(TimeOf(45323.75), 0.75);
}

TEST(DayOfWeek, OneIsSunday) {
  EXPECT_EQ(DayOfWeek(0), 7);                           // Saturday 30/12/1899
  EXPECT_EQ(DayOfWeek(EncodeDate(2024, 2, 1)), 5);      // Thursday
  EXPECT_EQ(DayOfWeek(EncodeDate(2022, 12, 25)), 1);    // Sunday
  EXPECT_EQ(DayOfWeek(EncodeDate(2022, 12, 25) + 0.99), 1);
  EXPECT_EQ(DayOfWeek(EncodeDate(2023, 1, 2)), 2);      // Monday
  EXPECT_EQ(DayOfWeek(EncodeDate(1, 1, 1)), 2);         // Monday, proleptic Gregorian
}

TEST(IncDay, AddsDays) {
  EXPECT_EQ(IncDay(EncodeDate(2024, 2, 28), 1), EncodeDate(2024, 2, 29));
  EXPECT_EQ(IncDay(EncodeDate(2024, 2, 29), 1), EncodeDate(2024, 3, 1));
  EXPECT_EQ(IncDay(EncodeDate(2024, 1, 1), -1), EncodeDate(2023, 12, 31));
  EXPECT_DOUBLE_EQ(IncDay(45323.75, 10), 45333.75);  // the time stays
}

TEST(IncDay, AcrossTheEpochKeepsTheTimeOfDay) {
  EXPECT_EQ(IncDay(-1.25, 1), 0.25);   // 29/12/1899 06:00 -> 30/12/1899 06:00
  EXPECT_EQ(IncDay(-0.25, 1), 1.25);   // 30/12/1899 06:00 -> 31/12/1899 06:00
  EXPECT_EQ(IncDay(0.25, -1), -1.25);  // 30/12/1899 06:00 -> 29/12/1899 06:00
  EXPECT_EQ(IncDay(1.5, -3), -2.5);    // 31/12/1899 noon -> 28/12/1899 noon
  EXPECT_EQ(IncDay(-2.5, -1), -3.5);
}

TEST(Clock, DateIsTodayWithoutTime) {
  const TDateTime today = Date();
  const TDateTime now = Now();
  EXPECT_EQ(today, std::floor(today));
  EXPECT_GE(now, today);
  EXPECT_LT(now - today, 1.0 + 1e-6);  // tolerant of a midnight between the calls
  EXPECT_GT(DecodeDate(today).year, 2000);
}

}  // namespace
}  // namespace rtl
