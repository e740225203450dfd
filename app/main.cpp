// kolvan: keys a way out with the time code of a long-wave time station
// (JJY unless told otherwise) for the host's clock, minute after minute,
// until Ctrl-C. Its command line is usage_text()'s (app/options.h); the way
// out is the row of carrier_output.h's table that the command line chose.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <string>

#include "app/clock_watch.h"
#include "app/interrupt.h"
#include "app/options.h"
#include "app/simulated_time.h"
#include "app/transmission_loop.h"
#include "carrier/carrier_output.h"
#include "cli/command_line.h"
#include "pacing/clock.h"

namespace {

constexpr const char* kProgram = "kolvan";

// The offset that makes the time sent `chosen` now: computed once, so
// that the pulses stay on the host's seconds as with any offset.
bool offset_of_chosen_time(std::int64_t chosen, int& offset_sec) {
  const std::int64_t offset = chosen - simulated_seconds(0);
  if (offset < INT_MIN || offset > INT_MAX) return false;
  offset_sec = static_cast<int>(offset);
  return true;
}

// --time in the zone sent: false, having said why, for a time that zone
// skips or one too far from the host's clock.
bool choose_time(const Options& options, std::int64_t& chosen) {
  const LocalClockTime& t = options.time;
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  int offset = 0;
  const char* wrong = nullptr;
  if (!seconds_of_local_time(t.year, t.month, t.day, t.hour, t.minute, t.second, chosen))
    wrong = "no such time in the zone sent (a change to summer time skips it)";
  else if (!offset_of_chosen_time(chosen, offset))
    wrong = "more than 68 years from the host's clock";
  if (wrong == nullptr) return true;
  refuse_command_line(std::string("kolvan: --time=") + text + ": " + wrong, usage_text(true));
  return false;
}

// Ends as Ctrl-C does, for --minutes: output stopped, "Exit!", status 0.
int end_after_minutes() {
  carrier_close();
  std::fputs("\nExit!\n", stdout);
  return 0;
}

// --carrier: the full carrier, no code, until Ctrl-C or the minutes end;
// the way out is kept up every 20 ms and looked after once a second.
int send_steady_carrier(const CarrierOutput& output, const Station& station, int minutes) {
  std::printf("Carrier: %s, no code: %s at full level until %s\n", output.steady(station),
              station.call_sign, minutes > 0 ? "the minutes end" : "Ctrl-C");
  RunningTime run = start_running_time();
  std::int64_t looked_after_ms = 0;
  for (;;) {
    const std::int64_t ran_ms = running_ms(run);
    if (minutes > 0 && ran_ms >= static_cast<std::int64_t>(minutes) * 60000) break;
    if (ran_ms - looked_after_ms >= 1000) {
      looked_after_ms += 1000;
      carrier_upkeep();
    }
    output.steady(station);
    sleep_ms(20);
  }
  return end_after_minutes();
}

int fail_time_out_of_range(int offset_sec) {
  carrier_close();
  std::fprintf(stderr, "Can not represent the local time with an offset of %d sec\n",
               offset_sec);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  // Glyphs and the "Wait" count must show as they are written.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  Options options;
  std::string error;
  switch (parse_command_line(argc, argv, options, error)) {
    case CommandLineResult::Run:
      break;
    case CommandLineResult::Usage:
      std::fputs(usage_text(options.any_option), stderr);
      return 0;
    case CommandLineResult::Help:
      std::fputs(help_text().c_str(), stdout);
      return 0;
    case CommandLineResult::Version:
      return show_version(kProgram);
    case CommandLineResult::Error:
      return refuse_command_line(error, usage_text(true));
  }
  const CarrierOutput& output = *options.output;
  const char* argument = options.output_argument;
  if (output.query != nullptr && output.query(argument)) return 0;
  if (!options.note.empty()) std::fprintf(stderr, "%s\n", options.note.c_str());
  // The zone sent: --zone's, else the station's own, else the host's.
  const char* zone = !options.zone.empty() ? options.zone.c_str() : options.station->zone;
  if (zone != nullptr && !use_zone(zone, error))
    return refuse_command_line(error, usage_text(true));
  if (options.wait_sync && !host_clock_sync_known())
    return refuse_command_line(
        "kolvan: --wait-sync: this system doesn't say whether its clock is synchronised",
        usage_text(true));
  std::int64_t chosen = 0;
  if (options.has_time && !choose_time(options, chosen)) return 2;
  // A row this platform lacks refuses every argument here.
  if (output.check != nullptr && !output.check(argument, error))
    return refuse_command_line(error, usage_text(true));
  if (options.carrier_only && output.steady == nullptr)
    return refuse_command_line(std::string("kolvan: --carrier: the ") + output.name +
                                   " output can't hold a steady carrier",
                               usage_text(true));
  // Before opening: an output's own threads inherit the finest sleep.
  prepare_clocks();
  // Before opening: an end during set-up cleans up what was set up.
  install_interrupt_handler();
  // Before opening, so that nothing is keyed until the clock is set (a
  // sound card or PWM channel not opened is silent), and before the time is
  // read: a chosen time's offset is from the set clock.
  if (options.wait_sync) wait_for_host_clock_sync();
  if (!open_carrier_output(output, argument, *options.station)) return 1;
  if (options.carrier_only) return send_steady_carrier(output, *options.station, options.minutes);
  int offset_sec = options.offset_sec;
  if (options.has_time && !offset_of_chosen_time(chosen, offset_sec))
    return fail_time_out_of_range(offset_sec);

  SimulatedTime start;
  if (!simulated_time(offset_sec, start)) return fail_time_out_of_range(offset_sec);
  std::printf("Setting: %04d/%02d/%02d %02d:%02d:%02d\n", start.tm_year + 1900, start.tm_mon + 1,
              start.tm_mday, start.tm_hour, start.tm_min, start.tm_sec);

  if (run_transmission_loop(*options.station, offset_sec, options.minutes))
    return end_after_minutes();
  return fail_time_out_of_range(offset_sec);
}
