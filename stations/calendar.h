// Calendar arithmetic that the stations' encoders and decoders share, with
// no host time zone involved.
#pragma once

#include <cstdint>
#include <ctime>

bool is_leap_year(int year);

// Month (1-12) and day of the 1-based `day_of_year` of `year`; false when
// there is no such day.
bool date_of_day_of_year(int year, int day_of_year, int& month, int& day);

// The 1-based day of the year of a date; 0 when there is no such date.
int day_of_year_of_date(int year, int month, int day);

// Day of the week (0 = Sunday) of a date in the Gregorian calendar.
int day_of_week_of_date(int year, int month, int day);

// UTC broken down from seconds since the epoch; tm_isdst is 0.
void utc_time(std::int64_t seconds, std::tm& out);

// Seconds since the epoch of a date and time of day read as UTC (the
// inverse of utc_time).
std::int64_t utc_seconds_of(int year, int month, int day, int hour, int minute, int second);

// The day of the month of the `n`-th Sunday of a month (n = 1, 2...), or
// with `n` 0 its last.
int nth_sunday(int year, int month, int n);
