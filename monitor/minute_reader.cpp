// One station's reading of a line's pulses: their symbols from the
// station's shapes, the minute's start from its first and closing symbols,
// and the minute decoded by the station. See minute_reader.h for the rules.
#include "monitor/minute_reader.h"

#include "base/units.h"

namespace {

std::int64_t floor_mod(std::int64_t a, std::int64_t b) {
  const std::int64_t r = a % b;
  return r < 0 ? r + b : r;
}

bool near(std::int64_t count, int wanted) {
  return count >= wanted - kPulseToleranceChars && count <= wanted + kPulseToleranceChars;
}

}  // namespace

bool classify_pulse(const Station& station, std::int64_t bytes, std::int64_t nonzero,
                    StationSymbol& symbol) {
  for (int s = 0; s < station.symbol_count; ++s) {
    const PulseShape& shape = station.symbols[s].shape;
    const int chars = pulse_shape_chars(shape);
    if (chars == 0 || !near(bytes, chars)) continue;
    if (shape.gap == 0 ? nonzero != 0 : !near(nonzero, shape.gap)) continue;
    symbol = static_cast<StationSymbol>(s);
    return true;
  }
  return false;
}

void MinuteReader::idle(std::int64_t now_us, std::vector<LineEvent>& events) {
  // The first second wholly heard before any pulse came.
  if (!have_last_ && !have_quiet_) {
    have_quiet_ = true;
    quiet_from_second_ = now_us / kSecondUs + 1;
  }
  // No pulse can still come for position 59 once its second's window has
  // closed and the line has been idle since.
  const std::int64_t last_window_end = (minute_.first_second + 60) * kSecondUs - kEarlyOnsetUs;
  if (minute_open_ && now_us >= last_window_end + kPulseGapUs) finish_minute(events);
}

void MinuteReader::read(LinePulse pulse, std::vector<LineEvent>& events) {
  pulse.readable = classify_pulse(*station_, pulse.bytes, pulse.nonzero, pulse.symbol);
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
      last_was_closing_ = false;
      return;
    }
    // Two pulses in one second: its symbol is in doubt, and it can't be
    // the closing symbol of a minute's start.
    if (minute_open_) {
      const std::int64_t position = pulse.second - minute_.first_second;
      if (position >= 0 && position < 60 && minute_.onset_us[position] != kNoOnset) {
        minute_.onset_us[position] = kNoOnset;
        ++minute_.unread;
      }
    }
    last_was_closing_ = false;
    return;
  }

  event.kind = pulse.readable ? LineEventKind::Pulse : LineEventKind::UnexpectedPulse;
  events.push_back(event);
  const bool starts = starts_minute(pulse);
  report_gap(pulse, starts, events);

  if (minute_open_ && pulse.second > minute_.first_second + 59) finish_minute(events);
  if (starts) {
    // The closing and first symbols: a minute starts here, wherever the
    // last one did.
    if (minute_open_) finish_minute(events);
    have_phase_ = true;
    phase_second_ = pulse.second - station_->first_symbol_position;
    start_minute(phase_second_);
  } else if (!minute_open_ && have_phase_) {
    // Once the minute's phase is known, a minute is read even when its
    // position 0 was lost, but a lone pulse in position 59 is the closing
    // symbol of a minute without a frame, not a minute.
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
  last_was_closing_ = pulse.readable && pulse.symbol == station_->closing_symbol;
}

bool MinuteReader::closing_is_silent() const {
  return pulse_shape_chars(station_->symbols[station_->closing_symbol].shape) == 0;
}

bool MinuteReader::starts_minute(const LinePulse& pulse) const {
  if (!pulse.readable || pulse.symbol != station_->first_symbol) return false;
  if (!closing_is_silent())
    return have_last_ && last_was_closing_ && last_second_ == pulse.second - 1;
  // A silent second between two pulses. A single lost pulse looks the same,
  // so a minute being read that follows a decoded one ends only at its own
  // end; until then the phase may still move.
  if (have_last_ && last_second_ == pulse.second - 2) {
    const bool confirmed = have_previous_ && previous_.decoded &&
                           previous_.first_second + 60 == minute_.first_second;
    return !minute_open_ ||
           pulse.second == minute_.first_second + 60 + station_->first_symbol_position ||
           !confirmed;
  }
  // Or the first pulse after a longer silence, as a sender starts after
  // its wait, while no phase is known. Not where the minute opens with a
  // silent marker (BPC): there the wait ends with a pulse in second 59, and
  // the silent second after it is the start.
  if (station_->first_symbol_position != 0) return false;
  const std::int64_t quiet_from = have_last_ ? last_second_ + 1 : quiet_from_second_;
  return !have_phase_ && (have_last_ || have_quiet_) && pulse.second - quiet_from >= 2;
}

// Whether `second`, one that had no pulse, is a symbol that sends nothing:
// the closing one before a minute's first symbol `pulse`, or a silent
// position of the minutes' known phase. Before the phase is known, a lone
// second between two pulses may be any of the silent positions (BPC's
// markers of seconds 20 and 40): it is no missing pulse either.
bool MinuteReader::closing_second(std::int64_t second, const LinePulse& pulse, bool starts) const {
  if (!closing_is_silent()) return false;
  if (starts && second == pulse.second - 1) return true;
  if (!have_phase_ && second == pulse.second - 1 && second == last_second_ + 1) return true;
  return have_phase_ &&
         station_position_silent(*station_, static_cast<int>(floor_mod(second - phase_second_, 60)));
}

// Seconds between the last pulse and this one: missing pulses, unless they
// are a closing symbol that sends nothing, or the whole of a JJY minute 15
// or 45 after a decoded minute, which carries no frame, only its closing
// marker.
void MinuteReader::report_gap(const LinePulse& pulse, bool starts,
                              std::vector<LineEvent>& events) {
  if (!have_last_ || pulse.second <= last_second_ + 1) return;
  LineEvent event;
  event.first_missing = last_second_ + 1;
  event.last_missing = pulse.second - 1;
  if (closing_second(event.last_missing, pulse, starts)) --event.last_missing;
  if (event.first_missing <= event.last_missing &&
      closing_second(event.first_missing, pulse, starts))
    ++event.first_missing;
  if (event.first_missing > event.last_missing) return;
  event.kind = LineEventKind::MissingPulses;
  const bool closing = pulse.readable && pulse.symbol == station_->closing_symbol;
  if (station_->skips_call_sign_minutes && closing && have_previous_ && previous_.decoded &&
      previous_.first_second + 59 == last_second_ && pulse.second == last_second_ + 60) {
    const int next = previous_.time.hour * 60 + previous_.time.minute + 1;
    event.silent_hour = next / 60 % 24;
    event.silent_minute = next % 60;
    if (event.silent_minute == 15 || event.silent_minute == 45)
      event.kind = LineEventKind::SilentMinute;
  }
  events.push_back(event);
}

void MinuteReader::start_minute(std::int64_t first_second) {
  minute_ = LineMinute{};
  minute_.first_second = first_second;
  minute_.frame.fill(0);
  minute_.unread = 60;
  minute_open_ = true;
}

void MinuteReader::finish_minute(std::vector<LineEvent>& events) {
  minute_open_ = false;
  LineMinute& m = minute_;
  for (int position = 0; position < 60; ++position) {
    if (station_position_silent(*station_, position) && m.onset_us[position] == kNoOnset) {
      m.frame[position] = station_->closing_symbol;
      --m.unread;
    }
  }
  if (m.unread > 0) {
    m.reason = std::to_string(m.unread) + (m.unread == 1 ? " symbol missing" : " symbols missing");
  } else {
    const char* reason = "";
    m.decoded = station_->decode(m.frame, m.time, &reason);
    if (!m.decoded) m.reason = reason;
  }
  LineEvent event;
  event.kind = LineEventKind::Minute;
  event.minute = m;
  events.push_back(event);
  previous_ = m;
  have_previous_ = true;
}
