// The line monitor's core: chunks of received bytes become pulses, and every
// pulse goes to the reader of the station asked for and to a reader of each
// other station, whose decoded minutes name the station the line carries.
// See line_monitor.h and minute_reader.h for the rules.
#include "monitor/line_monitor.h"

#include <cstring>

#include "base/units.h"

namespace {

// Another station's decoded minute names it only when the station asked for
// has decoded none for this long: one odd minute proves nothing.
constexpr std::int64_t kOtherStationAfterSec = 120;

// How long `count` characters take on the line.
std::int64_t line_time_us(std::size_t count) {
  return static_cast<std::int64_t>(count) * kSecondUs / kLineCharsPerSecond;
}

std::int64_t second_of_onset(std::int64_t onset_us) {
  return floor_div(onset_us + kEarlyOnsetUs, kSecondUs);
}

bool decoded_minute(const LineEvent& e) { return e.kind == LineEventKind::Minute && e.minute.decoded; }

}  // namespace

LineMonitor::LineMonitor(const Station& station) : reader_(station) {
  // One reader per code: JJY's two transmitters send the same.
  for (const Station* const* s = kStations; *s != nullptr; ++s) {
    bool known = std::strcmp((*s)->call_sign, station.call_sign) == 0;
    for (const MinuteReader& other : others_)
      known = known || std::strcmp((*s)->call_sign, other.station().call_sign) == 0;
    if (!known) others_.emplace_back(**s);
  }
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
  // A pulse that has had more than a second's characters is none: it ends
  // here, so that a line that never pauses is reported a second at a time.
  // The host clock stepping back ends it too.
  if (pulse_open_ && (pulse_.bytes >= kLineCharsPerSecond || arrival_us < pulse_.last_us))
    end_pulse(events);
  if (!pulse_open_) {
    pulse_ = LinePulse{};
    pulse_.onset_us = arrival_us;
    pulse_open_ = true;
  }
  pulse_.last_us = arrival_us;
  pulse_.bytes += static_cast<std::int64_t>(count);
  for (std::size_t i = 0; i < count; ++i) pulse_.nonzero += bytes[i] != 0;
}

void LineMonitor::idle(std::int64_t now_us, std::vector<LineEvent>& events) {
  if (pulse_open_ && now_us - pulse_.last_us >= kPulseGapUs) end_pulse(events);
  if (pulse_open_) return;
  const std::size_t first = events.size();
  reader_.idle(now_us, events);
  for (MinuteReader& other : others_) {
    scratch_.clear();
    other.idle(now_us, scratch_);
    watch_others(first, scratch_, other.station(), events);
  }
}

void LineMonitor::end_pulse(std::vector<LineEvent>& events) {
  pulse_open_ = false;
  pulse_.second = second_of_onset(pulse_.onset_us);
  const std::size_t first = events.size();
  reader_.read(pulse_, events);
  for (MinuteReader& other : others_) {
    scratch_.clear();
    other.read(pulse_, scratch_);
    watch_others(first, scratch_, other.station(), events);
  }
}

// Notes the minutes the station asked for decoded since `first_event`, and
// names `other` once when it decodes while the station asked for doesn't.
void LineMonitor::watch_others(std::size_t first_event, const std::vector<LineEvent>& others,
                               const Station& other, std::vector<LineEvent>& events) {
  for (std::size_t i = first_event; i < events.size(); ++i) {
    if (!decoded_minute(events[i])) continue;
    have_decoded_ = true;
    decoded_second_ = events[i].minute.first_second;
    named_other_ = false;
  }
  for (const LineEvent& e : others) {
    if (!decoded_minute(e) || named_other_) continue;
    if (have_decoded_ && e.minute.first_second - decoded_second_ <= kOtherStationAfterSec) continue;
    LineEvent named;
    named.kind = LineEventKind::WrongStation;
    named.asked = &reader_.station();
    named.found = &other;
    events.push_back(named);
    named_other_ = true;
  }
}
