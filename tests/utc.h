// Calendar instants for tests, in UTC so that they mean the same everywhere.
#pragma once

#include <cstdint>
#include <ctime>

inline std::int64_t utc(int year, int month, int day, int hour, int minute, int second) {
  std::tm fields = {};
  fields.tm_year = year - 1900;
  fields.tm_mon = month - 1;
  fields.tm_mday = day;
  fields.tm_hour = hour;
  fields.tm_min = minute;
  fields.tm_sec = second;
  return timegm(&fields);
}
