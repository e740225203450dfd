// Calendar arithmetic in the proleptic Gregorian calendar, on plain integers.
#include "stations/calendar.h"

#include "base/units.h"

namespace {

constexpr int kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

int days_in_month(int year, int month) {
  return kMonthDays[month - 1] + (month == 2 && is_leap_year(year) ? 1 : 0);
}

// Year, month (1-12) and day of the `days`-th day since 1970-01-01, by the
// era arithmetic of 400-year cycles (146097 days each).
void civil_from_days(std::int64_t days, std::int64_t& year, int& month, int& day) {
  const std::int64_t z = days + 719468;
  const std::int64_t era = floor_div(z, 146097);
  const std::int64_t doe = z - era * 146097;                                   // [0, 146096]
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;  // [0, 399]
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);              // [0, 365], from 1 March
  const std::int64_t mp = (5 * doy + 2) / 153;                                 // [0, 11], March first
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = yoe + era * 400 + (month <= 2 ? 1 : 0);
}

// Days since 1970-01-01 of a date: the inverse of civil_from_days.
std::int64_t days_from_civil(std::int64_t year, int month, int day) {
  const std::int64_t y = month <= 2 ? year - 1 : year;
  const std::int64_t era = floor_div(y, 400);
  const std::int64_t yoe = y - era * 400;                                        // [0, 399]
  const std::int64_t doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;               // [0, 146096]
  return era * 146097 + doe - 719468;
}

}  // namespace

bool is_leap_year(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

bool date_of_day_of_year(int year, int day_of_year, int& month, int& day) {
  if (day_of_year < 1) return false;
  int left = day_of_year;
  for (int m = 1; m <= 12; ++m) {
    const int days = days_in_month(year, m);
    if (left <= days) {
      month = m;
      day = left;
      return true;
    }
    left -= days;
  }
  return false;
}

int day_of_year_of_date(int year, int month, int day) {
  if (month < 1 || month > 12 || day < 1 || day > days_in_month(year, month)) return 0;
  int total = day;
  for (int m = 1; m < month; ++m) total += days_in_month(year, m);
  return total;
}

int day_of_week_of_date(int year, int month, int day) {
  // Zeller-like count: 1 March-based years make February the year's end.
  static const int kOffsets[12] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  const int y = month < 3 ? year - 1 : year;
  return (y + y / 4 - y / 100 + y / 400 + kOffsets[month - 1] + day) % 7;
}

void utc_time(std::int64_t seconds, std::tm& out) {
  const std::int64_t days = floor_div(seconds, 86400);
  const std::int64_t in_day = seconds - days * 86400;
  std::int64_t year = 0;
  int month = 0, day = 0;
  civil_from_days(days, year, month, day);
  out = std::tm{};
  out.tm_year = static_cast<int>(year - 1900);
  out.tm_mon = month - 1;
  out.tm_mday = day;
  out.tm_hour = static_cast<int>(in_day / 3600);
  out.tm_min = static_cast<int>(in_day / 60 % 60);
  out.tm_sec = static_cast<int>(in_day % 60);
  out.tm_wday = static_cast<int>(days + 4 - floor_div(days + 4, 7) * 7);  // 1970-01-01 was a Thursday
  out.tm_yday = day_of_year_of_date(static_cast<int>(year), month, day) - 1;
  out.tm_isdst = 0;
}

std::int64_t utc_seconds_of(int year, int month, int day, int hour, int minute, int second) {
  return days_from_civil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

int nth_sunday(int year, int month, int n) {
  if (n == 0) {
    int last = 31;
    while (day_of_year_of_date(year, month, last) == 0) --last;
    return last - day_of_week_of_date(year, month, last);
  }
  const int first = 1 + (7 - day_of_week_of_date(year, month, 1)) % 7;
  return first + 7 * (n - 1);
}
