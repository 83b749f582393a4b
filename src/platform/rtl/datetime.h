#pragma once
// TDateTime: days since 30/12/1899 as a double; the fraction is the time of day.

#include <cstdint>
#include <string>

namespace rtl {

using TDateTime = double;

struct DateParts {
  int year = 0;
  int month = 0;
  int day = 0;
};

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);
bool IsValidDate(int year, int month, int day);

// Throws EConvertError for an impossible date.
TDateTime EncodeDate(int year, int month, int day);
bool TryEncodeDate(int year, int month, int day, TDateTime& out);
TDateTime EncodeTime(int hour, int minute, int second, int msec);
DateParts DecodeDate(TDateTime value);
void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& msec);

// The date part (towards the epoch, as the platform truncates).
TDateTime DateOf(TDateTime value);
TDateTime TimeOf(TDateTime value);
// 1 = Sunday ... 7 = Saturday.
int DayOfWeek(TDateTime value);

TDateTime IncDay(TDateTime value, int days);
// The local date of today, no time part.
TDateTime Date();
TDateTime Now();

}  // namespace rtl
