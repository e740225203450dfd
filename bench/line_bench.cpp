// kolvan-bench: runs the real kolvan on a virtual serial port for a number
// of minutes, reads the line back through the monitor's core, and prints a
// table of its timing, the minutes it decoded and kolvan's CPU time and peak
// memory. Not a test: a measurement anyone can rerun (bench/run.sh).
//
//   kolvan-bench KOLVAN_BINARY MINUTES [LABEL]
//   kolvan-bench --audio[=CAPTURE] KOLVAN_BINARY MINUTES [LABEL]
//
// With --audio, kolvan plays through its default sound output (`--audio`)
// and the bench records CAPTURE (the default capture device unless given:
// a null sink's monitor, say) and reads it through the monitor's envelope
// (bench/audio-run.sh).
//
// With KOLVAN_BENCH_PULSES=FILE in the environment it also writes each pulse
// to FILE, one line each: arrival of its first byte (µs since the epoch) and
// its length in bytes, for a closer look.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_report.h"
#include "monitor/audio_envelope.h"
#include "monitor/audio_source.h"
#include "monitor/line_monitor.h"
#include "monitor/line_port.h"
#include "monitor/stop_request.h"

namespace {

// The sound that kolvan plays, recorded and read as the monitor reads it.
struct AudioInput {
  AudioSource source;
  AudioEnvelope envelope;
  std::vector<std::int16_t> block = std::vector<std::int16_t>(4800);
};

bool read_audio(AudioInput& input, LineMonitor& monitor, std::vector<LineEvent>& events) {
  std::string reason;
  std::int64_t first_us = 0;
  const int count = input.source.read(input.source, input.block.data(),
                                      static_cast<int>(input.block.size()), first_us, reason);
  if (count < 0) {
    std::fprintf(stderr, "kolvan-bench: %s: %s\n", input.source.name.c_str(), reason.c_str());
    return false;
  }
  feed_envelope(input.envelope, input.block.data(), count, first_us, monitor, events);
  return true;
}

struct BenchOptions {
  const char* audio = nullptr;  // --audio[=CAPTURE], or null for the serial line
  const char* kolvan = nullptr;
  int minutes = 0;
  std::string label;
};

bool parse_options(int argc, char** argv, BenchOptions& options) {
  if (argc > 1 && std::strncmp(argv[1], "--audio", 7) == 0) {
    options.audio = argv[1];
    --argc;
    ++argv;
  }
  if (argc < 3 || argc > 4) return false;
  options.kolvan = argv[1];
  options.minutes = std::max(1, std::atoi(argv[2]));
  options.label = argc == 4 ? argv[3] : "idle";
  return true;
}

// What the bench reads kolvan's signal from: a virtual serial port, or the
// recorded sound.
struct Input {
  LinePort port;
  AudioInput audio;
  bool is_audio = false;
};

bool open_input(const BenchOptions& options, Input& input) {
  if (options.audio == nullptr) {
    if (open_virtual_line(input.port)) return true;
    std::perror("kolvan-bench: virtual serial port");
    return false;
  }
  std::string reason;
  const std::string capture = options.audio[7] == '=' ? options.audio + 8 : "";
  if (!open_audio_capture(input.audio.source, capture, default_station().carrier_hz, reason)) {
    std::fprintf(stderr, "kolvan-bench: capture %s: %s\n", capture.c_str(), reason.c_str());
    return false;
  }
  start_envelope(input.audio.envelope, input.audio.source.rate, default_station());
  input.port.path = "--audio";
  input.is_audio = true;
  return true;
}

void close_input(Input& input) {
  if (input.is_audio) {
    input.audio.source.close(input.audio.source);
  } else {
    close_line(input.port);
  }
}

// One run of kolvan, as the monitor saw it.
struct Run {
  std::vector<LineEvent> events;
  int frames = 0;
  bool line_failed = false;
  ProcessUse use;
  double ran_s = 0;
  int status = 0;  // kolvan's, as waitpid gives it
};

// Runs kolvan on the input until it has sent `minutes` frames (or a little
// longer), then interrupts it. False when it can't be started.
bool run_kolvan(const BenchOptions& options, Input& input, Run& run) {
  const std::int64_t started = clock_us(CLOCK_MONOTONIC);
  const pid_t kolvan = start_kolvan(options.kolvan, input.port.path);
  if (kolvan < 0) {
    std::perror("kolvan-bench: fork");
    return false;
  }
  std::fprintf(stderr, "kolvan-bench: kolvan (pid %d) on %s, %d minute%s, %s\n",
               static_cast<int>(kolvan), input.port.path.c_str(), options.minutes,
               options.minutes == 1 ? "" : "s", options.label.c_str());
  // kolvan starts in the middle of a minute and sends none in minutes 15 and
  // 45, so allow three minutes more.
  const std::int64_t deadline =
      started + (static_cast<std::int64_t>(options.minutes) + 3) * 60000000;
  LineMonitor monitor;
  std::vector<LineEvent> events;
  while (!stop_requested && run.frames < options.minutes && clock_us(CLOCK_MONOTONIC) < deadline) {
    events.clear();
    if (input.is_audio ? !read_audio(input.audio, monitor, events)
                       : !poll_line(input.port, 50, monitor, events)) {
      run.line_failed = true;
      break;
    }
    for (const LineEvent& e : events) {
      const std::string line = format_line_event(e);
      if (!line.empty()) std::fprintf(stderr, "monitor| %s\n", line.c_str());
      if (e.kind == LineEventKind::Minute) ++run.frames;
      run.events.push_back(e);
    }
  }
  run.use = process_use(kolvan);
  run.ran_s = static_cast<double>(clock_us(CLOCK_MONOTONIC) - started) / 1e6;
  kill(kolvan, SIGINT);
  waitpid(kolvan, &run.status, 0);
  return true;
}

// Each pulse to KOLVAN_BENCH_PULSES, when set: onset (µs) and length (bytes).
void write_pulse_trace(const std::vector<LineEvent>& events) {
  const char* trace = std::getenv("KOLVAN_BENCH_PULSES");
  if (trace == nullptr) return;
  std::FILE* out = std::fopen(trace, "w");
  if (out == nullptr) return;
  for (const LineEvent& e : events)
    if (e.kind == LineEventKind::Pulse || e.kind == LineEventKind::UnexpectedPulse)
      std::fprintf(out, "%lld %lld\n", static_cast<long long>(e.pulse.onset_us),
                   static_cast<long long>(e.pulse.bytes));
  std::fclose(out);
}

// The run's events counted and measured, in milliseconds.
struct Tally {
  MinuteTally minutes;
  std::vector<double> onset_all;
  long missing = 0, extra = 0, unexpected = 0, silent = 0, pulses = 0;
};

Tally tally(const std::vector<LineEvent>& events) {
  Tally t;
  for (const LineEvent& e : events) {
    switch (e.kind) {
      case LineEventKind::Pulse:
        ++t.pulses;
        t.onset_all.push_back(static_cast<double>(e.pulse.onset_in_second_us()) / 1000.0);
        break;
      case LineEventKind::UnexpectedPulse: ++t.unexpected; break;
      case LineEventKind::ExtraPulse: ++t.extra; break;
      case LineEventKind::MissingPulses: t.missing += e.last_missing - e.first_missing + 1; break;
      case LineEventKind::SilentMinute: ++t.silent; break;
      case LineEventKind::WrongStation: break;
      case LineEventKind::Minute: tally_minute(e.minute, t.minutes); break;
    }
  }
  return t;
}

void print_report(const BenchOptions& options, const Run& run, const Tally& t) {
  std::printf("\n### %s: %d minute%s, kolvan %s\n\n", options.label.c_str(), options.minutes,
              options.minutes == 1 ? "" : "s", options.kolvan);
  std::printf("| ms | n | min | median | p99 | max |\n|---|---|---|---|---|---|\n");
  print_row("position 0 onset after the host's second", t.minutes.onset0);
  print_row("onset of every pulse after its second", t.onset_all);
  print_row("spacing error, positions 1-59 vs position 0 + n s", t.minutes.spacing);
  print_row("drift over a minute (LSQ slope x 59 s)", t.minutes.drift);
  std::printf("\n");
  std::printf("- pulses read: %ld; missing: %ld; extra: %ld; unexpected length: %ld%s\n", t.pulses,
              t.missing, t.extra, t.unexpected,
              t.silent ? " (plus minutes 15/45 without frame)" : "");
  print_minutes(t.minutes);
  print_use("kolvan", run.use, run.ran_s);
  std::printf("- kolvan exit after SIGINT: %s\n", exit_text(run.status).c_str());
  if (run.line_failed) std::printf("- the line failed before the end\n");
}

}  // namespace

int main(int argc, char** argv) {
  BenchOptions options;
  if (!parse_options(argc, argv, options)) {
    std::fputs("Usage: kolvan-bench [--audio[=CAPTURE]] KOLVAN_BINARY MINUTES [LABEL]\n", stderr);
    return 2;
  }
  install_stop_handlers();
  Input input;
  if (!open_input(options, input)) return 1;
  Run run;
  const bool started = run_kolvan(options, input, run);
  close_input(input);
  if (!started) return 1;
  write_pulse_trace(run.events);
  print_report(options, run, tally(run.events));
  return run.frames >= options.minutes && !run.line_failed ? 0 : 1;
}
