// BCD fields over a minute's bits: a weight's decade (1, 10 or 100) picks the
// decimal digit it belongs to, its value within the decade the digit's bit.
#include "stations/station_bits.h"

#include "stations/calendar.h"

namespace {

int decade_of(int weight) { return weight >= 100 ? 100 : weight >= 10 ? 10 : 1; }

}  // namespace

void put_bcd(StationBits& bits, const BcdField& field, int value) {
  unsigned char* b = bits.data() + field.first;
  for (int i = 0; i < 12; ++i) {
    const int w = field.weights[i];
    if (w == 0) continue;
    const int decade = decade_of(w);
    b[i] = (value / decade % 10 & w / decade) != 0;
  }
}

bool bcd_digits_valid(const StationBits& bits, const BcdField& field) {
  const unsigned char* b = bits.data() + field.first;
  int digits[3] = {0, 0, 0};  // units, tens, hundreds
  for (int i = 0; i < 12; ++i) {
    const int w = field.weights[i];
    if (w == 0 || !b[i]) continue;
    const int decade = decade_of(w);
    digits[decade == 1 ? 0 : decade == 10 ? 1 : 2] += w / decade;
  }
  return digits[0] <= 9 && digits[1] <= 9 && digits[2] <= 9;
}

BcdCheck check_bcd_fields(const StationBits& bits, const BcdField* fields, int count) {
  for (int i = 0; i < count; ++i)
    if (!bcd_digits_valid(bits, fields[i])) return BcdCheck::BadDigit;
  for (int i = 0; i < count; ++i) {
    const int value = bcd_value(bits, fields[i]);
    if (value < fields[i].low || value > fields[i].high) return BcdCheck::OutOfRange;
  }
  return BcdCheck::Valid;
}

int bcd_value(const StationBits& bits, const BcdField& field) {
  const unsigned char* b = bits.data() + field.first;
  int value = 0;
  for (int i = 0; i < 12; ++i)
    if (field.weights[i] != 0 && b[i]) value += field.weights[i];
  return value;
}

int count_ones(const StationBits& bits, int first, int last) {
  const unsigned char* b = bits.data();
  int n = 0;
  for (int p = first; p <= last; ++p) n += b[p];
  return n;
}

void add_note(std::string& notes, const char* note) {
  if (*note == '\0') return;
  if (!notes.empty()) notes += ", ";
  notes += note;
}

DateCheck complete_date(StationTime& t, DateSent sent, WeekdaySent weekday) {
  if (sent == DateSent::DayOfYear) {
    if (!date_of_day_of_year(t.year, t.day_of_year, t.month, t.day)) return DateCheck::NoSuchDate;
  } else {
    t.day_of_year = day_of_year_of_date(t.year, t.month, t.day);
    if (t.day_of_year == 0) return DateCheck::NoSuchDate;
  }
  const int day_of_week = day_of_week_of_date(t.year, t.month, t.day);
  if (weekday == WeekdaySent::No) t.day_of_week = day_of_week;
  return t.day_of_week == day_of_week ? DateCheck::Valid : DateCheck::WrongWeekday;
}
