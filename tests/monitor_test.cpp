// The line monitor's core on recorded byte timings: pulses as a real UART
// delivers them (many small chunks over the pulse) and as a pseudo-terminal
// does (one or two chunks at once), their classification, their seconds,
// the gaps and stray pulses it must report, and minutes assembled at the
// markers 59 and 0 and decoded.
#include "monitor/line_monitor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "glyphs.h"
#include "utc.h"

namespace {

constexpr std::int64_t kSecond = 1000000;
constexpr std::int64_t kCharUs = kSecond / 960;  // one character at 9600 8N1

// Monday 7 December 2026, 09:31:00 UTC, day 341.
const std::int64_t k0931 = utc(2026, 12, 7, 9, 31, 0);

// JJY's symbols, in the order of its station row.
enum JjySymbol : StationSymbol { kZero, kOne, kMarker };

// The sixty glyphs kolvan sends in the minute that begins at `second`
// (seconds since the epoch), read in the test's zone, UTC.
std::string glyphs_of_minute(std::int64_t second) { return jjy_glyphs(second, host_local); }

enum class Port { Uart, Pty, PtySplit };

// A recorded line: chunks fed in order of arrival, with the monitor's
// idle calls every 50 ms between them, as the read loop makes them.
class Line {
 public:
  explicit Line(const Station& station = default_station()) : monitor_(station) {}

  // Everything up to `t` with no byte arriving.
  void advance(std::int64_t t) {
    if (now_ == 0) now_ = t;  // the recording starts with its first chunk
    while (now_ + 50000 < t) {
      now_ += 50000;
      monitor_.idle(now_, events_);
    }
    if (t > now_) now_ = t;
  }

  void chunk(std::int64_t t, int count, unsigned char value = 0) {
    advance(t);
    feed(t, count, value);
  }

  // A chunk read by a reader that was held up since the last one: it made
  // no idle calls meanwhile, and finds the chunk as soon as it runs again.
  void late_chunk(std::int64_t t, int count) {
    now_ = t;
    feed(t, count, 0);
  }

  void feed(std::int64_t t, int count, unsigned char value) {
    std::vector<unsigned char> bytes(static_cast<std::size_t>(count), 0);
    if (!bytes.empty()) bytes[bytes.size() / 2] = value;
    monitor_.feed(bytes.data(), bytes.size(), t, events_);
  }

  // MSF's A=0 B=1 in one chunk: 96 zero bytes, 96 of 0xFF, 96 zero.
  void gap_pulse(std::int64_t t) {
    advance(t);
    std::vector<unsigned char> bytes(288, 0);
    std::fill(bytes.begin() + 96, bytes.begin() + 192, 0xFF);
    monitor_.feed(bytes.data(), bytes.size(), t, events_);
  }

  // A pulse of `count` characters whose first character goes out at
  // `start` (µs since the epoch). A UART hands them over 16 at a time as
  // they come in; a pseudo-terminal all at once, or in two pieces.
  void pulse(std::int64_t start, int count, Port port) {
    switch (port) {
      case Port::Uart:
        for (int sent = 0; sent < count;) {
          const int n = std::min(16, count - sent);
          sent += n;
          chunk(start + sent * kCharUs, n);
        }
        break;
      case Port::Pty:
        chunk(start, count);
        break;
      case Port::PtySplit:
        chunk(start, count / 3);
        chunk(start + 40, count - count / 3);
        break;
    }
  }

  // One pulse per glyph from second `first` on, each `onset_us` into its
  // second; '.' sends nothing, 'g' a gap pulse in one chunk.
  void send(std::int64_t first, const std::string& glyphs, Port port, std::int64_t onset_us = 3000) {
    for (std::size_t i = 0; i < glyphs.size(); ++i) {
      if (glyphs[i] == '.') continue;
      if (glyphs[i] == 'g') {
        gap_pulse((first + static_cast<std::int64_t>(i)) * kSecond + onset_us);
        continue;
      }
      pulse((first + static_cast<std::int64_t>(i)) * kSecond + onset_us, chars_of_glyph(glyphs[i]), port);
    }
  }

  // Lets the line idle for a second and a half after the last chunk.
  void settle() { advance(now_ + 3 * kSecond / 2); }

  // The lines the monitor prints, in order.
  std::vector<std::string> lines() const {
    std::vector<std::string> shown;
    for (const LineEvent& e : events_) {
      std::string line = format_line_event(e);
      if (!line.empty()) shown.push_back(line);
    }
    return shown;
  }

  std::vector<LinePulse> pulses() const {
    std::vector<LinePulse> found;
    for (const LineEvent& e : events_)
      if (e.kind == LineEventKind::Pulse || e.kind == LineEventKind::UnexpectedPulse)
        found.push_back(e.pulse);
    return found;
  }

  std::vector<LineMinute> minutes() const {
    std::vector<LineMinute> found;
    for (const LineEvent& e : events_)
      if (e.kind == LineEventKind::Minute) found.push_back(e.minute);
    return found;
  }

  const std::vector<LineEvent>& events() const { return events_; }

 private:
  LineMonitor monitor_;
  std::vector<LineEvent> events_;
  std::int64_t now_ = 0;
};

class Monitor : public testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
  }
};

TEST_F(Monitor, ClassifiesPulseLengthsWithAFewCharactersOfTolerance) {
  const Station& jjy = default_station();
  StationSymbol s{};
  EXPECT_TRUE(classify_pulse(jjy, 768, 0, s) && s == kZero);
  EXPECT_TRUE(classify_pulse(jjy, 768 - 24, 0, s) && s == kZero);
  EXPECT_TRUE(classify_pulse(jjy, 768 + 24, 0, s) && s == kZero);
  EXPECT_TRUE(classify_pulse(jjy, 480, 0, s) && s == kOne);
  EXPECT_TRUE(classify_pulse(jjy, 471, 0, s) && s == kOne);
  EXPECT_TRUE(classify_pulse(jjy, 192, 0, s) && s == kMarker);
  EXPECT_TRUE(classify_pulse(jjy, 170, 0, s) && s == kMarker);
  for (int bytes : {0, 1, 100, 167, 217, 300, 455, 505, 600, 743, 793, 960, 1536})
    EXPECT_FALSE(classify_pulse(jjy, bytes, 0, s)) << bytes;
  EXPECT_FALSE(classify_pulse(jjy, 192, 1, s));
}

TEST_F(Monitor, GroupsAUartsSmallChunksIntoOnePulsePerSecond) {
  Line line;
  const std::int64_t s = k0931;
  line.pulse(s * kSecond + 1000, 768, Port::Uart);
  line.pulse((s + 1) * kSecond + 1000, 480, Port::Uart);
  line.pulse((s + 2) * kSecond + 1000, 192, Port::Uart);
  line.settle();
  const auto pulses = line.pulses();
  ASSERT_EQ(pulses.size(), 3u);
  const StationSymbol expected[] = {kZero, kOne,
                                    kMarker};
  const int bytes[] = {768, 480, 192};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(pulses[i].bytes, bytes[i]);
    EXPECT_TRUE(pulses[i].readable);
    EXPECT_EQ(pulses[i].symbol, expected[i]);
    EXPECT_EQ(pulses[i].second, s + i);
    // The onset is the arrival of the first chunk: 16 characters in.
    EXPECT_EQ(pulses[i].onset_in_second_us(), 1000 + 16 * kCharUs);
  }
  EXPECT_TRUE(line.lines().empty());
}

TEST_F(Monitor, TakesAPseudoTerminalsOneOrTwoChunksAsOnePulse) {
  for (Port port : {Port::Pty, Port::PtySplit}) {
    Line line;
    line.send(k0931, "_-|_", port, 2500);
    line.settle();
    const auto pulses = line.pulses();
    ASSERT_EQ(pulses.size(), 4u);
    EXPECT_EQ(pulses[0].bytes, 768);
    EXPECT_EQ(pulses[1].bytes, 480);
    EXPECT_EQ(pulses[2].bytes, 192);
    EXPECT_EQ(pulses[3].symbol, kZero);
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(pulses[i].second, k0931 + i);
      EXPECT_EQ(pulses[i].onset_in_second_us(), 2500);
    }
    EXPECT_TRUE(line.lines().empty());
  }
}

TEST_F(Monitor, APulseEndsOnlyAfterATenthOfASecondOfIdleLine) {
  Line line;
  line.chunk(k0931 * kSecond, 192);
  line.advance(k0931 * kSecond + 99000);
  EXPECT_TRUE(line.pulses().empty());
  line.chunk(k0931 * kSecond + 99000, 0);  // nothing: no pulse ends on an empty read
  line.advance(k0931 * kSecond + 150000);
  ASSERT_EQ(line.pulses().size(), 1u);
  EXPECT_EQ(line.pulses()[0].bytes, 192);
}

TEST_F(Monitor, AReaderHeldUpInAPulseStillSeesOnePulse) {
  // A UART pulse of 768 characters from 09:31:00.000; the reader takes the
  // first 200 in small chunks, is held up for 150 ms and then gets the
  // 144 characters of those 150 ms in one chunk, then the rest.
  Line line;
  const std::int64_t start = k0931 * kSecond;
  int sent = 0;
  for (; sent < 208; sent += 16) line.chunk(start + (sent + 16) * kCharUs, 16);
  line.late_chunk(start + (sent + 144) * kCharUs, 144);
  sent += 144;
  for (; sent < 768; sent += 16) line.chunk(start + (sent + 16) * kCharUs, 16);
  line.settle();
  ASSERT_EQ(line.pulses().size(), 1u);
  EXPECT_EQ(line.pulses()[0].bytes, 768);
  EXPECT_EQ(line.pulses()[0].symbol, kZero);
}

TEST_F(Monitor, ReportsAMissingSecondAndARunOfThem) {
  Line line;
  line.send(k0931 + 10, "__.__....._", Port::Pty);
  line.settle();
  EXPECT_EQ(line.lines(), (std::vector<std::string>{
                              "missing pulse at 09:31:12",
                              "missing pulses from 09:31:15 to 09:31:19 (5 seconds)"}));
}

TEST_F(Monitor, ReportsAPulseOfAWrongLengthAndOneThatIsNotAllZero) {
  Line line;
  line.pulse((k0931 + 12) * kSecond + 4000, 300, Port::Uart);
  line.pulse((k0931 + 13) * kSecond + 4000, 300, Port::Pty);
  line.chunk((k0931 + 14) * kSecond + 7000, 192, 0x55);
  line.settle();
  EXPECT_EQ(line.lines(), (std::vector<std::string>{
                              "unexpected pulse of 300 bytes at 09:31:12.020",
                              "unexpected pulse of 300 bytes at 09:31:13.004",
                              "unexpected pulse of 192 bytes (1 not zero) at 09:31:14.007"}));
}

TEST_F(Monitor, ReportsASecondPulseInOneSecond) {
  Line line;
  line.send(k0931, "|", Port::Pty);
  line.pulse(k0931 * kSecond + 500000, 192, Port::Pty);
  line.send(k0931 + 1, "_", Port::Pty);
  line.settle();
  EXPECT_EQ(line.lines(),
            (std::vector<std::string>{"extra pulse of 192 bytes at 09:31:00.500"}));
}

TEST_F(Monitor, DecodesAMinuteFromTheDoubleMarkerOnOverAUart) {
  Line line;
  line.send(k0931 - 1, "|" + glyphs_of_minute(k0931), Port::Uart, 0);
  // The minute is decoded as its position 59 ends, before the next pulse.
  line.advance((k0931 + 59) * kSecond + 400000);
  // Onset 17 ms: the first 16 characters have to come in first.
  EXPECT_EQ(line.lines(), (std::vector<std::string>{
                              "decoded 2026-12-07 09:31 Mon, day 341, parity ok, onset 17 ms"}));
  const auto minutes = line.minutes();
  ASSERT_EQ(minutes.size(), 1u);
  EXPECT_EQ(minutes[0].first_second, k0931);
  EXPECT_EQ(minutes[0].time.hour, 9);
  EXPECT_EQ(minutes[0].time.minute, 31);
  EXPECT_EQ(minutes[0].time.day_of_week, 1);
  for (int p = 0; p < 60; ++p) EXPECT_EQ(minutes[0].onset_us[p], (k0931 + p) * kSecond + 16 * kCharUs);
}

TEST_F(Monitor, DecodesMinuteAfterMinuteOnAPseudoTerminal) {
  Line line;
  // From 09:30:50, as kolvan starts: a wait, its closing marker, two frames.
  const std::int64_t start = k0931 - 10;
  line.send(start, ".........|" + glyphs_of_minute(k0931) + glyphs_of_minute(k0931 + 60),
            Port::PtySplit, 3000);
  line.settle();
  EXPECT_EQ(line.lines(), (std::vector<std::string>{
                              "decoded 2026-12-07 09:31 Mon, day 341, parity ok, onset 3 ms",
                              "decoded 2026-12-07 09:32 Mon, day 341, parity ok, onset 3 ms"}));
}

TEST_F(Monitor, AMinuteNeedsTheDoubleMarkerToStart) {
  Line line;
  line.send(k0931, glyphs_of_minute(k0931), Port::Pty);  // no marker at 09:30:59
  line.settle();
  EXPECT_TRUE(line.minutes().empty());
  EXPECT_TRUE(line.lines().empty());
}

TEST_F(Monitor, DecodesDespiteAFewCharactersLostInEachPulse) {
  Line line;
  std::string glyphs = "|" + glyphs_of_minute(k0931);
  for (std::size_t i = 0; i < glyphs.size(); ++i)
    line.pulse((k0931 - 1 + static_cast<std::int64_t>(i)) * kSecond, chars_of_glyph(glyphs[i]) - 5 - static_cast<int>(i % 10),
               Port::Pty);
  line.settle();
  EXPECT_EQ(line.lines(), (std::vector<std::string>{
                              "decoded 2026-12-07 09:31 Mon, day 341, parity ok, onset 0 ms"}));
}

TEST_F(Monitor, PlacesEarlyAndLatePulsesInTheirOwnSecond) {
  Line line;
  const std::string glyphs = glyphs_of_minute(k0931);
  line.send(k0931 - 1, "|", Port::Pty, -3000);
  line.send(k0931, glyphs.substr(0, 30), Port::Pty, -3000);  // the sender's clock is 3 ms ahead
  line.send(k0931 + 30, glyphs.substr(30, 1), Port::Pty, 600000);  // a stalled sender
  line.send(k0931 + 31, glyphs.substr(31), Port::Pty, -3000);
  line.settle();
  EXPECT_EQ(line.lines(), (std::vector<std::string>{
                              "decoded 2026-12-07 09:31 Mon, day 341, parity ok, onset -3 ms"}));
}

TEST_F(Monitor, AFlippedBitMakesAnUndecodableMinute) {
  Line line;
  std::string glyphs = glyphs_of_minute(k0931);
  glyphs[8] = glyphs[8] == '_' ? '-' : '_';  // minute units, covered by PA2
  line.send(k0931 - 1, "|" + glyphs, Port::Pty);
  line.settle();
  EXPECT_EQ(line.lines(),
            (std::vector<std::string>{"undecodable minute: minute parity (PA2) mismatch"}));
}

TEST_F(Monitor, AMinuteWithALostOrUnreadablePulseIsReportedAsSuch) {
  Line line;
  std::string glyphs = glyphs_of_minute(k0931);
  glyphs[20] = '.';
  line.send(k0931 - 1, "|" + glyphs.substr(0, 40), Port::Pty);
  line.pulse((k0931 + 40) * kSecond + 3000, 300, Port::Pty);
  line.send(k0931 + 41, glyphs.substr(41), Port::Pty);
  line.settle();
  EXPECT_EQ(line.lines(), (std::vector<std::string>{
                              "missing pulse at 09:31:20",
                              "unexpected pulse of 300 bytes at 09:31:40.003",
                              "undecodable minute: 2 symbols missing"}));
}

TEST_F(Monitor, AMinuteWhoseLastPulseIsLostEndsOnTime) {
  Line line;
  line.send(k0931 - 1, "|" + glyphs_of_minute(k0931).substr(0, 59), Port::Pty);
  line.advance((k0931 + 59) * kSecond + 800000);
  EXPECT_TRUE(line.minutes().empty());
  line.advance((k0931 + 60) * kSecond);
  EXPECT_EQ(line.lines(), (std::vector<std::string>{"undecodable minute: 1 symbol missing"}));
}

TEST_F(Monitor, KeepsTheMinutesPhaseWhenAPositionZeroIsLost) {
  Line line;
  std::string second = glyphs_of_minute(k0931 + 60);
  second[0] = '.';
  line.send(k0931 - 1, "|" + glyphs_of_minute(k0931) + second + glyphs_of_minute(k0931 + 120),
            Port::Pty);
  line.settle();
  EXPECT_EQ(line.lines(), (std::vector<std::string>{
                              "decoded 2026-12-07 09:31 Mon, day 341, parity ok, onset 3 ms",
                              "missing pulse at 09:32:00",
                              "undecodable minute: 1 symbol missing",
                              "decoded 2026-12-07 09:33 Mon, day 341, parity ok, onset 3 ms"}));
}

TEST_F(Monitor, MinutesFifteenAndFortyFiveCarryOnlyTheirClosingMarker) {
  Line line;
  const std::int64_t m14 = utc(2026, 12, 7, 9, 14, 0);
  line.send(m14 - 1, "|" + glyphs_of_minute(m14) + std::string(59, '.') + "|" +
                         glyphs_of_minute(m14 + 120),
            Port::Pty);
  line.settle();
  EXPECT_EQ(line.lines(), (std::vector<std::string>{
                              "decoded 2026-12-07 09:14 Mon, day 341, parity ok, onset 3 ms",
                              "no frame in minute 09:15 (minutes 15 and 45 carry none)",
                              "decoded 2026-12-07 09:16 Mon, day 341, parity ok, onset 3 ms"}));

  // Any other minute without a frame is pulses missing.
  Line other;
  other.send(k0931 - 1, "|" + glyphs_of_minute(k0931) + std::string(59, '.') + "|" +
                            glyphs_of_minute(k0931 + 120),
             Port::Pty);
  other.settle();
  EXPECT_EQ(other.lines(), (std::vector<std::string>{
                               "decoded 2026-12-07 09:31 Mon, day 341, parity ok, onset 3 ms",
                               "missing pulses from 09:32:00 to 09:32:58 (59 seconds)",
                               "decoded 2026-12-07 09:33 Mon, day 341, parity ok, onset 3 ms"}));
}

TEST_F(Monitor, ShowsTheCalendarDateOfTheDayOfYear) {
  struct Case {
    std::int64_t at;
    const char* line;
  };
  const Case cases[] = {
      {utc(2028, 2, 29, 23, 59, 0), "decoded 2028-02-29 23:59 Tue, day 60, parity ok, onset 3 ms"},
      {utc(2028, 12, 31, 0, 0, 0), "decoded 2028-12-31 00:00 Sun, day 366, parity ok, onset 3 ms"},
      {utc(2027, 1, 1, 12, 0, 0), "decoded 2027-01-01 12:00 Fri, day 1, parity ok, onset 3 ms"},
  };
  for (const Case& c : cases) {
    Line line;
    line.send(c.at - 1, "|" + glyphs_of_minute(c.at), Port::Pty);
    line.settle();
    EXPECT_EQ(line.lines(), (std::vector<std::string>{c.line}));
  }
}

TEST_F(Monitor, ADayThatTheYearDoesNotHaveIsOutOfRange) {
  // Day 366 of 2027, a common year, 23:59: the frame itself holds, the date
  // can't.
  Line line;
  line.send(k0931 - 1, "||-_-_-__-|__-____--|__--__--_|_--___-__|___-__---|__-______|", Port::Pty);
  line.settle();
  EXPECT_EQ(line.lines(), (std::vector<std::string>{"undecodable minute: field out of range"}));
}

// Frames checked by hand against the stations' published definitions,
// glyphs as chars_of_glyph() reads them, each with the end of the minute before it
// (the symbols that open the minute) and what follows.
struct StationLine {
  const char* station;
  const char* before;
  const char* frame;
  const char* after;
  const char* decoded;
};

// JJY, 09:31 Mon day 341 of 2026, as kolvan sends it in that minute.
// WWVB, 09:31 UTC in that minute: DUT1 sign positive, no DST.
// DCF77, sent in 09:31 CET: 09:32 CET, Monday (1), 07.12.(20)26, P1 1, P2 0,
// P3 1; second 59 sends nothing, and the 0 of the next minute follows; read
// after a minute's end, and after a sender's wait.
// MSF, sent in 09:32 GMT: 09:33, Monday (1), 07.12.(20)26; B57 odd parity
// over the hour and minute's six ones is 1 (A1 B1: 0.3 s).
constexpr char kDcf77Frame[] = "11111111111111111121212112212211211122211121112112122112112.";
// BPC, a receiver's published decoding of Sunday 2024-12-22 12:47 CST (the
// minute carried, not the host's); its markers at 0, 20 and 40 send nothing.
constexpr char kBpcFrame[] = ".1111344243223412312.2111344244223412312.3111344244223412312";

const StationLine kStationLines[] = {
    {"jjy40", "|", "|_--____-|_____-__-|__--__-__|___-___-_|___-__--_|__-______|", "",
     "decoded 2026-12-07 09:31 Mon, day 341, parity ok, onset 3 ms"},
    {"wwvb", "8", "825522225822222522582255225228222522525822222225282552222228", "",
     "decoded 2026-12-07 09:31 Mon UTC, day 341, markers ok, onset 3 ms"},
    {"dcf77", "22.", kDcf77Frame, "1",
     "decoded 2026-12-07 09:32 Mon CET, day 341, parity ok, onset 3 ms"},
    {"dcf77", ".....", kDcf77Frame, "1",
     "decoded 2026-12-07 09:32 Mon CET, day 341, parity ok, onset 3 ms"},
    {"msf", "1", "511111111111111111121122121121111222112112112122112212222321", "",
     "decoded 2026-12-07 09:33 Mon GMT, day 341, parity ok, onset 3 ms"},
    {"bpc", "2", kBpcFrame, ".1",
     "decoded 2024-12-22 12:47 Sun CST, day 357, 3 blocks agree, parities ok, onset 3 ms"},
    {"bpc", ".....1", kBpcFrame, ".1",
     "decoded 2024-12-22 12:47 Sun CST, day 357, 3 blocks agree, parities ok, onset 3 ms"},
    // Heard from second 35 on: the silent marker of second 40 is no missing pulse.
    {"bpc", kBpcFrame + 35, kBpcFrame, ".1",
     "decoded 2024-12-22 12:47 Sun CST, day 357, 3 blocks agree, parities ok, onset 3 ms"},
};

const Station& station_named(const char* name) {
  const Station* station = find_station(name);
  EXPECT_NE(station, nullptr) << name;
  return station != nullptr ? *station : default_station();
}

// Sends `line` from the second `before` takes to end at 09:31:00, then
// lets the line idle until past the minute's end.
void send_station_line(Line& line, const StationLine& s, int frames = 1) {
  std::string glyphs = s.before;
  for (int i = 0; i < frames; ++i) glyphs += s.frame;
  glyphs += s.after;
  const std::int64_t first = k0931 - static_cast<std::int64_t>(std::string(s.before).size());
  line.advance(first * kSecond);
  line.send(first, glyphs, Port::Pty);
  line.advance((k0931 + 60 * frames + 2) * kSecond);
}

TEST_F(Monitor, EveryStationsFrameDecodesToTheMinuteItCarries) {
  for (const StationLine& s : kStationLines) {
    ASSERT_EQ(std::string(s.frame).size(), 60u) << s.station;
    Line line(station_named(s.station));
    send_station_line(line, s);
    // DCF77's silent second 59 is no missing pulse, before or in the frame.
    EXPECT_EQ(line.lines(), (std::vector<std::string>{s.decoded})) << s.station;
  }
}

TEST_F(Monitor, ClassifiesEveryStationsShapesAndNoSilentOne) {
  struct Case {
    const char* station;
    int bytes, nonzero;
    int keyed, gap;  // the shape expected, or -1: none
  };
  const Case cases[] = {
      {"msf", 288, 96, 96, 96},   {"msf", 290, 90, 96, 96},  {"msf", 288, 0, 288, 0},
      {"msf", 480, 0, 480, 0},    {"msf", 288, 40, -1, -1},  {"msf", 192, 96, -1, -1},
      {"dcf77", 96, 0, 96, 0},    {"dcf77", 192, 0, 192, 0}, {"dcf77", 0, 0, -1, -1},
      {"dcf77", 480, 0, -1, -1},  {"wwvb", 768, 0, 768, 0},  {"wwvb", 96, 0, -1, -1},
      {"bpc", 384, 0, 384, 0},    {"bpc", 288, 0, 288, 0},   {"bpc", 0, 0, -1, -1},
  };
  for (const Case& c : cases) {
    const Station& station = station_named(c.station);
    StationSymbol s = 0;
    const bool found = classify_pulse(station, c.bytes, c.nonzero, s);
    EXPECT_EQ(found, c.keyed >= 0) << c.station << " " << c.bytes << "/" << c.nonzero;
    if (found && c.keyed >= 0) {
      EXPECT_EQ(station.symbols[s].shape.keyed, c.keyed) << c.station << " " << c.bytes;
      EXPECT_EQ(station.symbols[s].shape.gap, c.gap) << c.station << " " << c.bytes;
    }
  }
}

TEST_F(Monitor, AGapPulseTakesItsPlaceInAnMsfMinute) {
  // The MSF frame with DUT1 +0.1 s (B1 = 1 under A1 = 0): one gap pulse.
  StationLine s = kStationLines[4];
  std::string frame = s.frame;
  frame[1] = 'g';
  s.frame = frame.c_str();
  Line line(station_named("msf"));
  send_station_line(line, s);
  const auto minutes = line.minutes();
  ASSERT_EQ(minutes.size(), 1u);
  EXPECT_EQ(minutes[0].unread, 0);
  EXPECT_EQ(line.lines().size(), 1u);
}

TEST_F(Monitor, NamesTheStationTheLineCarriesOncePerEpisode) {
  struct Case {
    const char* asked;
    int sent;  // index into kStationLines
    const char* named;
  };
  const Case cases[] = {
      {"jjy40", 2, "the line looks like DCF77, not JJY: try --station=dcf77"},
      {"jjy60", 1, "the line looks like WWVB, not JJY: try --station=wwvb"},
      {"dcf77", 4, "the line looks like MSF, not DCF77: try --station=msf"},
      {"wwvb", 0, "the line looks like JJY, not WWVB: try --station=jjy40"},
  };
  for (const Case& c : cases) {
    Line line(station_named(c.asked));
    send_station_line(line, kStationLines[c.sent], 2);
    const auto lines = line.lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), c.named), 1) << c.asked;
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.rfind("decoded ", 0) == 0; }),
              0)
        << c.asked;
  }
}

}  // namespace
