// BPC (Shangqiu, 68.5 kHz) behind the station table: China Standard Time in
// three 20-second blocks a minute, each opened by a second without reduction
// and carrying the time at its own start in two-bit symbols of plain binary.
#include <cstdio>

#include "stations/calendar.h"
#include "stations/station.h"
#include "stations/station_bits.h"

namespace {

// Symbols 0-3 are their own two bits, most significant first.
enum BpcSymbol : StationSymbol { kBits00, kBits01, kBits10, kBits11, kMarker };

constexpr StationSymbolInfo kBpcSymbols[] = {
    {'0', {96, 0, 0}, "00, 0.1 s"},
    {'1', {192, 0, 0}, "01, 0.2 s"},
    {'2', {288, 0, 0}, "10, 0.3 s"},
    {'3', {384, 0, 0}, "11, 0.4 s"},
    {'|', {0, 0, 0}, "block marker, no reduction"},
};

constexpr int kBlockSeconds = 20;
constexpr int kBlocks = 3;

// A number over consecutive symbols of a block, most significant first;
// a valid frame's value lies in low..high.
struct BinaryField { int first; int symbols; int low; int high; };

enum FieldIndex { kHour, kMinute, kWeekday, kDay, kMonth, kYear, kFieldCount };

constexpr BinaryField kFields[kFieldCount] = {
    {3, 2, 0, 11},   // hour of the 12-hour clock
    {5, 3, 0, 59},
    {8, 2, 1, 7},    // Monday = 1 ... Sunday = 7
    {11, 3, 1, 31},
    {14, 2, 1, 12},
    {16, 3, 0, 63},  // year of the century, low 6 bits
};

constexpr int kBlockNumber = 1;
constexpr int kUnused = 2;
constexpr int kPmAndP1 = 10;      // PM, then even parity over the bits of seconds 1-9
constexpr int kYear64AndP2 = 19;  // the year's 64, then even parity over seconds 11-18

// Why a frame was refused, in the order the checks are made.
enum class BpcError { None, NotSymbol, Marker, StrayMarker, BlockNumber, Unused, P1, P2, Range,
                      Blocks, Weekday };

const char* bpc_error_text(BpcError e) {
  switch (e) {
    case BpcError::None: return "no error";
    case BpcError::NotSymbol: return "not a BPC symbol";
    case BpcError::Marker: return "missing block marker";
    case BpcError::StrayMarker: return "block marker in a data position";
    case BpcError::BlockNumber: return "block number out of place";
    case BpcError::Unused: return "unused second is not 0";
    case BpcError::P1: return "time parity P1 mismatch";
    case BpcError::P2: return "date parity P2 mismatch";
    case BpcError::Range: return "field out of range";
    case BpcError::Blocks: return "the three blocks disagree";
    case BpcError::Weekday: return "day of week disagrees with the date";
  }
  return "unknown error";
}

// One block's seconds 0-19 as the numbers 0-3 they carry (second 0 unused).
using Block = int[kBlockSeconds];

void put_binary(Block block, const BinaryField& field, int value) {
  for (int i = 0; i < field.symbols; ++i)
    block[field.first + i] = value >> 2 * (field.symbols - 1 - i) & 3;
}

int binary_value(const Block block, const BinaryField& field) {
  int value = 0;
  for (int i = 0; i < field.symbols; ++i) value = value << 2 | block[field.first + i];
  return value;
}

// Ones in the bits of seconds first..last.
int ones(const Block block, int first, int last) {
  int n = 0;
  for (int s = first; s <= last; ++s) n += (block[s] >> 1) + (block[s] & 1);
  return n;
}

bool encode_bpc(std::int64_t minute_start, LocalTimeFn local, ZoneTimeFn, StationFrame& frame,
                std::string& carries) {
  std::tm t{};
  if (!local(minute_start, t)) return false;
  // Every block starts within this minute, so all three carry its hh:mm and date.
  const int year = t.tm_year % 100;
  const int values[kFieldCount] = {t.tm_hour % 12, t.tm_min, t.tm_wday == 0 ? 7 : t.tm_wday,
                                   t.tm_mday,      t.tm_mon + 1, year % 64};
  for (int b = 0; b < kBlocks; ++b) {
    Block block = {};
    block[kBlockNumber] = b;
    for (int i = 0; i < kFieldCount; ++i) put_binary(block, kFields[i], values[i]);
    block[kPmAndP1] = (t.tm_hour >= 12) << 1;
    block[kPmAndP1] |= ones(block, 1, 9) % 2;
    block[kYear64AndP2] = (year >= 64) << 1;
    block[kYear64AndP2] |= ones(block, 11, 18) % 2;
    StationSymbol* out = frame.data() + b * kBlockSeconds;
    out[0] = kMarker;
    for (int s = 1; s < kBlockSeconds; ++s) out[s] = static_cast<StationSymbol>(block[s]);
  }
  char text[24];
  std::snprintf(text, sizeof text, "= %02d:%02d CST", t.tm_hour, t.tm_min);
  carries = text;
  return true;
}

// The first check block `b` fails, or None; `block` gets its numbers.
BpcError check_block(const StationSymbol* in, int b, Block block) {
  for (int s = 0; s < kBlockSeconds; ++s) {
    if (in[s] > kMarker) return BpcError::NotSymbol;
    block[s] = in[s] == kMarker ? 0 : in[s];
  }
  if (in[0] != kMarker) return BpcError::Marker;
  for (int s = 1; s < kBlockSeconds; ++s)
    if (in[s] == kMarker) return BpcError::StrayMarker;
  if (block[kBlockNumber] != b) return BpcError::BlockNumber;
  if (block[kUnused] != 0) return BpcError::Unused;
  // A parity second's high bit (PM, the year's 64) lies outside its parity.
  if ((ones(block, 1, 9) + (block[kPmAndP1] & 1)) % 2 != 0) return BpcError::P1;
  if ((ones(block, 11, 18) + (block[kYear64AndP2] & 1)) % 2 != 0) return BpcError::P2;
  for (const BinaryField& field : kFields) {
    const int value = binary_value(block, field);
    if (value < field.low || value > field.high) return BpcError::Range;
  }
  return BpcError::None;
}

// The minute a block carries: year, month, day, hour, minute, weekday.
void block_time(const Block block, StationTime& t) {
  t.year = 2000 + binary_value(block, kFields[kYear]) + (block[kYear64AndP2] >> 1) * 64;
  t.month = binary_value(block, kFields[kMonth]);
  t.day = binary_value(block, kFields[kDay]);
  t.hour = binary_value(block, kFields[kHour]) + (block[kPmAndP1] >> 1) * 12;
  t.minute = binary_value(block, kFields[kMinute]);
  t.day_of_week = binary_value(block, kFields[kWeekday]) % 7;
}

bool same_time(const StationTime& a, const StationTime& b) {
  return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour &&
         a.minute == b.minute && a.day_of_week == b.day_of_week;
}

BpcError check_bpc(const StationFrame& frame, StationTime& t) {
  for (int b = 0; b < kBlocks; ++b) {
    Block block = {};
    const BpcError e = check_block(frame.data() + b * kBlockSeconds, b, block);
    if (e != BpcError::None) return e;
    StationTime bt;
    block_time(block, bt);
    if (bt.year > 2099) return BpcError::Range;
    if (b == 0) t = bt;
    else if (!same_time(t, bt)) return BpcError::Blocks;
  }
  t.day_of_year = day_of_year_of_date(t.year, t.month, t.day);
  if (t.day_of_year == 0) return BpcError::Range;  // 31 April, 29 February 2026...
  if (t.day_of_week != day_of_week_of_date(t.year, t.month, t.day)) return BpcError::Weekday;
  return BpcError::None;
}

bool decode_bpc(const StationFrame& frame, StationTime& out, const char** reason) {
  StationTime t;
  const BpcError e = check_bpc(frame, t);
  if (e != BpcError::None) {
    if (reason) *reason = bpc_error_text(e);
    return false;
  }
  t.zone = "CST";
  t.checks = "3 blocks agree, parities ok";
  out = t;
  return true;
}

// Filled field by field, by name: C++17 has no designated initialisers.
constexpr Station bpc_row() {
  Station s{};
  s.name = "bpc";
  s.call_sign = "BPC";
  s.time_note = "China time (Asia/Shanghai) + offset, each block its own start";
  s.carrier_hz = 68500.0;
  s.keyed_is_carrier_high = false;
  s.skips_call_sign_minutes = false;
  s.symbols = kBpcSymbols;
  s.symbol_count = 5;
  // Block 0's number after the silent marker of second 0.
  s.first_symbol = kBits00;
  s.closing_symbol = kMarker;
  s.first_symbol_position = 1;
  s.encode = encode_bpc;
  s.decode = decode_bpc;
  s.silent_positions = 1ULL << 0 | 1ULL << 20 | 1ULL << 40;
  s.zone = "Asia/Shanghai";
  s.reduced_level = 0.316;  // reduced by 10 dB in power
  return s;
}

}  // namespace

extern const Station kBpc = bpc_row();
