// The line monitor's core: chunks of received bytes become pulses, pulses
// become seconds, seconds become minutes, minutes are decoded. See
// line_monitor.h for the rules.
#include "monitor/line_monitor.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

constexpr std::int64_t kSecondUs = 1000000;
constexpr std::int64_t kCharsPerSecond = 960;  // 9600 baud, 10 bits a character

std::int64_t floor_div(std::int64_t a, std::int64_t b) {
  const std::int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

std::int64_t floor_mod(std::int64_t a, std::int64_t b) { return a - floor_div(a, b) * b; }

// How long `count` characters take on the line.
std::int64_t line_time_us(std::size_t count) {
  return static_cast<std::int64_t>(count) * kSecondUs / kCharsPerSecond;
}

std::int64_t second_of_onset(std::int64_t onset_us) {
  return floor_div(onset_us + kEarlyOnsetUs, kSecondUs);
}

bool is_leap_year(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// Month (1-12) and day of the 1-based day of `year`; false past its end.
bool calendar_date(int year, int day_of_year, int& month, int& day) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int left = day_of_year;
  for (int m = 0; m < 12; ++m) {
    const int days = kDays[m] + (m == 1 && is_leap_year(year) ? 1 : 0);
    if (left <= days) {
      month = m + 1;
      day = left;
      return left >= 1;
    }
    left -= days;
  }
  return false;
}

// Host local time of day of a moment, "09:31:12" and, with milliseconds,
// "09:31:12.004".
std::string time_of_day(std::int64_t us, bool with_ms) {
  const std::int64_t seconds = floor_div(us, kSecondUs);
  const std::time_t when = static_cast<std::time_t>(seconds);
  std::tm fields{};
  localtime_r(&when, &fields);
  char text[32];
  if (with_ms) {
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", fields.tm_hour, fields.tm_min,
                  fields.tm_sec, static_cast<int>((us - seconds * kSecondUs) / 1000));
  } else {
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", fields.tm_hour, fields.tm_min,
                  fields.tm_sec);
  }
  return text;
}

std::string pulse_line(const char* what, const LinePulse& pulse) {
  char text[128];
  std::snprintf(text, sizeof text, "%s pulse of %d bytes", what, pulse.bytes);
  std::string line = text;
  if (pulse.nonzero > 0) {
    std::snprintf(text, sizeof text, " (%d not zero)", pulse.nonzero);
    line += text;
  }
  return line + " at " + time_of_day(pulse.onset_us, true);
}

}  // namespace

bool classify_pulse(int bytes, TimeCodeSymbol& symbol) {
  struct Length {
    int chars;
    TimeCodeSymbol symbol;
  };
  // The widths of the JJY code itself (0.8, 0.5 and 0.2 s), not the sender's
  // own counts, so that wrong counts show.
  constexpr int kSecondChars = static_cast<int>(kCharsPerSecond);
  static const Length kLengths[] = {{kSecondChars * 8 / 10, TimeCodeSymbol::Zero},
                                    {kSecondChars * 5 / 10, TimeCodeSymbol::One},
                                    {kSecondChars * 2 / 10, TimeCodeSymbol::Marker}};
  for (const Length& length : kLengths) {
    if (std::abs(bytes - length.chars) <= kPulseToleranceChars) {
      symbol = length.symbol;
      return true;
    }
  }
  return false;
}

void LineMonitor::feed(const unsigned char* bytes, std::size_t count, std::int64_t arrival_us,
                       std::vector<LineEvent>& events) {
  if (count == 0) return;
  // The line was idle for the gap since the last chunk less the time this
  // chunk's own characters took on it: a reader that was held up and gets a
  // long chunk late still sees one pulse. On a pseudo-terminal, where a
  // pulse arrives at once, the gap to the next pulse is a second less at
  // most 800 ms of characters.
  if (pulse_open_ && arrival_us - pulse_.last_us - line_time_us(count) >= kPulseGapUs)
    end_pulse(events);
  if (!pulse_open_) {
    pulse_ = LinePulse{};
    pulse_.onset_us = arrival_us;
    pulse_open_ = true;
  }
  pulse_.last_us = arrival_us;
  pulse_.bytes += static_cast<int>(count);
  for (std::size_t i = 0; i < count; ++i) pulse_.nonzero += bytes[i] != 0;
}

void LineMonitor::idle(std::int64_t now_us, std::vector<LineEvent>& events) {
  if (pulse_open_ && now_us - pulse_.last_us >= kPulseGapUs) end_pulse(events);
  // No pulse can still come for position 59 once its second's window has
  // closed and the line has been idle since.
  const std::int64_t last_window_end = (minute_.first_second + 60) * kSecondUs - kEarlyOnsetUs;
  if (minute_open_ && !pulse_open_ && now_us >= last_window_end + kPulseGapUs)
    finish_minute(events);
}

void LineMonitor::end_pulse(std::vector<LineEvent>& events) {
  pulse_open_ = false;
  pulse_.second = second_of_onset(pulse_.onset_us);
  pulse_.readable = pulse_.nonzero == 0 && classify_pulse(pulse_.bytes, pulse_.symbol);
  place(pulse_, events);
}

void LineMonitor::place(const LinePulse& pulse, std::vector<LineEvent>& events) {
  LineEvent event;
  event.pulse = pulse;

  if (have_last_ && pulse.second <= last_second_) {
    event.kind = LineEventKind::ExtraPulse;
    events.push_back(event);
    if (pulse.second < last_second_) {
      // The host clock went back: start over from this pulse.
      if (minute_open_) finish_minute(events);
      have_phase_ = false;
      have_previous_ = false;
      last_second_ = pulse.second;
      last_was_marker_ = false;
      return;
    }
    // Two pulses in one second: its symbol is in doubt, and it can't be
    // the first marker of a minute's start.
    if (minute_open_) {
      const std::int64_t position = pulse.second - minute_.first_second;
      if (position >= 0 && position < 60 && minute_.onset_us[position] != kNoOnset) {
        minute_.onset_us[position] = kNoOnset;
        ++minute_.unread;
      }
    }
    last_was_marker_ = false;
    return;
  }

  event.kind = pulse.readable ? LineEventKind::Pulse : LineEventKind::UnexpectedPulse;
  events.push_back(event);
  report_gap(pulse, events);

  const bool marker = pulse.readable && pulse.symbol == TimeCodeSymbol::Marker;
  const bool double_marker =
      marker && have_last_ && last_was_marker_ && last_second_ == pulse.second - 1;
  if (minute_open_ && pulse.second > minute_.first_second + 59) finish_minute(events);
  if (double_marker) {
    // Positions 59 and 0: a minute starts here, wherever the last one did.
    if (minute_open_) finish_minute(events);
    have_phase_ = true;
    phase_second_ = pulse.second;
    start_minute(pulse.second);
  } else if (!minute_open_ && have_phase_) {
    // Once the minute's phase is known, a minute is read even when its
    // position 0 was lost, but a lone pulse in position 59 is the closing
    // marker of a minute without a frame, not a minute.
    const std::int64_t position = floor_mod(pulse.second - phase_second_, 60);
    if (position < 59) start_minute(pulse.second - position);
  }
  if (minute_open_) {
    const std::int64_t position = pulse.second - minute_.first_second;
    if (pulse.readable) {
      minute_.frame[position] = pulse.symbol;
      minute_.onset_us[position] = pulse.onset_us;
      --minute_.unread;
    }
    if (position == 59) finish_minute(events);
  }

  have_last_ = true;
  last_second_ = pulse.second;
  last_was_marker_ = marker;
}

// Seconds between the last pulse and this one: missing pulses, unless they
// are the whole of a minute 15 or 45 after a decoded minute, which carries
// no frame, only its closing marker.
void LineMonitor::report_gap(const LinePulse& pulse, std::vector<LineEvent>& events) {
  if (!have_last_ || pulse.second <= last_second_ + 1) return;
  LineEvent event;
  event.first_missing = last_second_ + 1;
  event.last_missing = pulse.second - 1;
  event.kind = LineEventKind::MissingPulses;
  const bool closing_marker = pulse.readable && pulse.symbol == TimeCodeSymbol::Marker;
  if (closing_marker && have_previous_ && previous_.decoded &&
      previous_.first_second + 59 == last_second_ && pulse.second == last_second_ + 60) {
    const int next = previous_.fields.hour * 60 + previous_.fields.minute + 1;
    event.silent_hour = next / 60 % 24;
    event.silent_minute = next % 60;
    if (event.silent_minute == 15 || event.silent_minute == 45)
      event.kind = LineEventKind::SilentMinute;
  }
  events.push_back(event);
}

void LineMonitor::start_minute(std::int64_t first_second) {
  minute_ = LineMinute{};
  minute_.first_second = first_second;
  minute_.frame = make_frame();
  minute_.unread = 60;
  minute_open_ = true;
}

void LineMonitor::finish_minute(std::vector<LineEvent>& events) {
  minute_open_ = false;
  LineMinute& m = minute_;
  if (m.unread > 0) {
    m.reason = std::to_string(m.unread) + (m.unread == 1 ? " symbol missing" : " symbols missing");
  } else {
    DecodeError error = DecodeError::None;
    if (!decode_frame(m.frame, m.fields, &error)) {
      m.reason = decode_error_text(error);
    } else {
      m.year = 2000 + m.fields.year_of_century;
      if (calendar_date(m.year, m.fields.day_of_year, m.month, m.day)) {
        m.decoded = true;
      } else {
        m.reason = decode_error_text(DecodeError::BadDigit);  // day 366 of a common year
      }
    }
  }
  LineEvent event;
  event.kind = LineEventKind::Minute;
  event.minute = m;
  events.push_back(event);
  previous_ = m;
  have_previous_ = true;
}

long minute_onset_ms(const LineMinute& minute) {
  if (minute.onset_us[0] == kNoOnset) return 0;
  return static_cast<long>(floor_div(minute.onset_us[0] - minute.first_second * kSecondUs + 500, 1000));
}

std::string format_line_event(const LineEvent& event) {
  static const char* const kWeekdays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  char text[160];
  switch (event.kind) {
    case LineEventKind::Pulse:
      return {};
    case LineEventKind::UnexpectedPulse:
      return pulse_line("unexpected", event.pulse);
    case LineEventKind::ExtraPulse:
      return pulse_line("extra", event.pulse);
    case LineEventKind::MissingPulses: {
      const std::int64_t count = event.last_missing - event.first_missing + 1;
      const std::string first = time_of_day(event.first_missing * kSecondUs, false);
      if (count == 1) return "missing pulse at " + first;
      return "missing pulses from " + first + " to " +
             time_of_day(event.last_missing * kSecondUs, false) + " (" + std::to_string(count) +
             " seconds)";
    }
    case LineEventKind::SilentMinute:
      std::snprintf(text, sizeof text, "no frame in minute %02d:%02d (minutes 15 and 45 carry none)",
                    event.silent_hour, event.silent_minute);
      return text;
    case LineEventKind::Minute: {
      const LineMinute& m = event.minute;
      if (!m.decoded) return "undecodable minute: " + m.reason;
      std::snprintf(text, sizeof text,
                    "decoded %04d-%02d-%02d %02d:%02d %s, day %d, parity ok, onset %ld ms", m.year,
                    m.month, m.day, m.fields.hour, m.fields.minute,
                    kWeekdays[m.fields.day_of_week], m.fields.day_of_year, minute_onset_ms(m));
      return text;
    }
  }
  return {};
}
