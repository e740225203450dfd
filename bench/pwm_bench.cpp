// kolvan-pwm-bench: runs the real kolvan --pwm on a fake channel, a
// directory laid out like /sys/class/pwm/pwmchip0 whose duty_cycle is a FIFO
// read here, stamps every write as it arrives, reads the minutes back
// through the monitor's minute reader and prints the serial benchmark's
// table with each pulse's width error beside its onset, and kolvan's CPU
// time and peak memory. Not a test: a measurement anyone can rerun
// (PWM=1 bench/run.sh).
//
//   kolvan-pwm-bench KOLVAN_BINARY MINUTES [LABEL]
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_report.h"
#include "monitor/minute_reader.h"
#include "monitor/stop_request.h"

namespace {

// Within a pulse, an unkeyed run shorter than this is its gap (MSF's A=0
// B=1); longer, the pulse has ended.
constexpr std::int64_t kGapUs = 150000;

int chars_in(std::int64_t us) { return static_cast<int>((us * 960 + 500000) / 1000000); }

// The fake chip: export and unexport are FIFOs; the channel's files appear
// once kolvan has exported it, duty_cycle a FIFO, the others plain files.
struct FakeChip {
  std::string dir;  // the temporary directory that holds pwmchip0
  std::string chip;
  int export_fd = -1, unexport_fd = -1, duty_fd = -1;
};

bool make_chip(FakeChip& fake) {
  char pattern[] = "/tmp/kolvan-pwm-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return false;
  fake.dir = pattern;
  fake.chip = fake.dir + "/pwmchip0";
  if (mkdir(fake.chip.c_str(), 0755) != 0 || mkfifo((fake.chip + "/export").c_str(), 0600) != 0 ||
      mkfifo((fake.chip + "/unexport").c_str(), 0600) != 0)
    return false;
  fake.export_fd = open((fake.chip + "/export").c_str(), O_RDONLY | O_NONBLOCK);
  fake.unexport_fd = open((fake.chip + "/unexport").c_str(), O_RDONLY | O_NONBLOCK);
  return fake.export_fd >= 0 && fake.unexport_fd >= 0;
}

// What a FIFO holds now, waiting up to `timeout_ms` for the first of it.
std::string drain(int fd, int timeout_ms) {
  std::string text;
  pollfd ready{fd, POLLIN, 0};
  if (poll(&ready, 1, timeout_ms) != 1) return text;
  char buffer[256];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<std::size_t>(n));
  return text;
}

// As the kernel does on export. kolvan opens duty_cycle without waiting
// (O_NONBLOCK), which fails on a FIFO with no reader: the reader is there
// before the channel's files are complete.
bool make_channel(FakeChip& fake) {
  const std::string channel = fake.chip + "/pwm0";
  if (mkdir(channel.c_str(), 0755) != 0) return false;
  if (mkfifo((channel + "/duty_cycle").c_str(), 0600) != 0) return false;
  fake.duty_fd = open((channel + "/duty_cycle").c_str(), O_RDONLY | O_NONBLOCK);
  std::ofstream(channel + "/enable").close();
  // Whole, then renamed into place: kolvan writes the period as soon as it
  // appears.
  std::ofstream(channel + "/period.new") << "0\n";
  if (std::rename((channel + "/period.new").c_str(), (channel + "/period").c_str()) != 0)
    return false;
  return fake.duty_fd >= 0;
}

// Cuts the duty writes into pulses as a line monitor cuts bytes: a keyed
// write opens one, an unkeyed write ends it unless a keyed one follows
// within kGapUs.
struct PulseCutter {
  std::string keyed;  // the duty of a keyed run, as kolvan writes it
  bool open = false;
  bool in_gap = false;
  LinePulse pulse;
  std::int64_t gap_from_us = 0;
};

void finish_pulse(PulseCutter& cut, MinuteReader& reader, std::vector<LineEvent>& events) {
  cut.open = false;
  cut.pulse.second = (cut.pulse.onset_us + kEarlyOnsetUs) / 1000000;
  reader.read(cut.pulse, events);
}

void cut_write(PulseCutter& cut, const std::string& duty, std::int64_t at_us, MinuteReader& reader,
               std::vector<LineEvent>& events) {
  const bool keyed = duty == cut.keyed;
  if (cut.open && cut.in_gap && keyed && at_us - cut.gap_from_us <= kGapUs) {
    cut.pulse.nonzero += chars_in(at_us - cut.gap_from_us);
    cut.in_gap = false;
    return;
  }
  if (cut.open && cut.in_gap) finish_pulse(cut, reader, events);
  if (keyed && !cut.open) {
    reader.idle(at_us - 1, events);
    cut.open = true;
    cut.in_gap = false;
    cut.pulse = LinePulse{};
    cut.pulse.onset_us = at_us;
  } else if (!keyed && cut.open && !cut.in_gap) {
    cut.in_gap = true;
    cut.gap_from_us = at_us;
    cut.pulse.last_us = at_us;
    cut.pulse.bytes = chars_in(at_us - cut.pulse.onset_us);
  }
}

void cut_idle(PulseCutter& cut, std::int64_t now_us, MinuteReader& reader,
              std::vector<LineEvent>& events) {
  if (cut.open && cut.in_gap && now_us - cut.gap_from_us > kGapUs)
    finish_pulse(cut, reader, events);
  if (!cut.open) reader.idle(now_us, events);
}

struct Tally {
  MinuteTally minutes;
  std::vector<double> onset_all, width;
  long pulses = 0, missing = 0, extra = 0, unexpected = 0;
};

void tally_event(const Station& station, const LineEvent& e, Tally& t) {
  switch (e.kind) {
    case LineEventKind::Pulse: {
      ++t.pulses;
      t.onset_all.push_back(static_cast<double>(e.pulse.onset_in_second_us()) / 1000.0);
      const int chars = pulse_shape_chars(station.symbols[e.pulse.symbol].shape);
      t.width.push_back(static_cast<double>(e.pulse.last_us - e.pulse.onset_us) / 1000.0 -
                        chars * 1000.0 / kLineCharsPerSecond);
      break;
    }
    case LineEventKind::UnexpectedPulse: ++t.unexpected; break;
    case LineEventKind::ExtraPulse: ++t.extra; break;
    case LineEventKind::MissingPulses: t.missing += e.last_missing - e.first_missing + 1; break;
    case LineEventKind::Minute: tally_minute(e.minute, t.minutes); break;
    default: break;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fputs("Usage: kolvan-pwm-bench KOLVAN_BINARY MINUTES [LABEL]\n", stderr);
    return 2;
  }
  const int minutes = std::max(1, std::atoi(argv[2]));
  const std::string label = argc == 4 ? argv[3] : "idle";
  install_stop_handlers();
  signal(SIGPIPE, SIG_IGN);

  const Station& station = default_station();
  FakeChip fake;
  if (!make_chip(fake)) {
    std::perror("kolvan-pwm-bench: fake chip");
    return 1;
  }
  const std::int64_t started = clock_us(CLOCK_MONOTONIC);
  const std::string argument = fake.chip + ":0";
  const pid_t kolvan = start_kolvan(argv[1], "--pwm=" + argument);
  std::fprintf(stderr, "kolvan-pwm-bench: kolvan (pid %d) on %s, %d minute%s, %s\n",
               static_cast<int>(kolvan), argument.c_str(), minutes, minutes == 1 ? "" : "s",
               label.c_str());
  if (drain(fake.export_fd, 5000) != "0\n" || !make_channel(fake)) {
    std::fprintf(stderr, "kolvan-pwm-bench: kolvan didn't export channel 0\n");
    kill(kolvan, SIGKILL);
    return 1;
  }

  // kolvan starts in the middle of a minute and sends none in minutes 15
  // and 45: allow three minutes more.
  const std::int64_t deadline = started + (static_cast<std::int64_t>(minutes) + 3) * 60000000;
  char keyed[32];
  std::snprintf(keyed, sizeof keyed, "%lld",
                static_cast<long long>(std::llround(1e9 / station.carrier_hz) / 2));
  PulseCutter cut;
  cut.keyed = keyed;
  MinuteReader reader(station);
  std::vector<LineEvent> events;
  Tally tally;
  std::string partial;
  long writes = 0;
  int frames = 0;
  while (!stop_requested && frames < minutes && clock_us(CLOCK_MONOTONIC) < deadline) {
    events.clear();
    pollfd ready{fake.duty_fd, POLLIN, 0};
    const bool data = poll(&ready, 1, 50) == 1 && (ready.revents & POLLIN) != 0;
    const std::int64_t now = clock_us(CLOCK_REALTIME);
    if (data) {
      char buffer[256];
      const ssize_t n = read(fake.duty_fd, buffer, sizeof buffer);
      if (n > 0) partial.append(buffer, static_cast<std::size_t>(n));
      for (std::size_t eol; (eol = partial.find('\n')) != std::string::npos; ++writes) {
        cut_write(cut, partial.substr(0, eol), now, reader, events);
        partial.erase(0, eol + 1);
      }
    } else {
      cut_idle(cut, now, reader, events);
    }
    for (const LineEvent& e : events) {
      tally_event(station, e, tally);
      if (e.kind == LineEventKind::Minute) ++frames;
    }
  }
  const ProcessUse use = process_use(kolvan);
  const double ran_s = static_cast<double>(clock_us(CLOCK_MONOTONIC) - started) / 1e6;
  kill(kolvan, SIGINT);
  int status = 0;
  waitpid(kolvan, &status, 0);
  const std::string unexported = drain(fake.unexport_fd, 1000);
  std::ifstream enable_file(fake.chip + "/pwm0/enable");
  const std::string enable((std::istreambuf_iterator<char>(enable_file)),
                           std::istreambuf_iterator<char>());
  std::error_code ignored;  // a leftover in /tmp is no reason to fail the run
  std::filesystem::remove_all(fake.dir, ignored);

  std::printf("\n### %s: %d minute%s, kolvan %s --pwm on a fake channel (%s)\n\n", label.c_str(),
              minutes, minutes == 1 ? "" : "s", argv[1], station.name);
  std::printf("| ms | n | min | median | p99 | max |\n|---|---|---|---|---|---|\n");
  print_row("position 0 onset after the host's second", tally.minutes.onset0);
  print_row("onset of every pulse after its second", tally.onset_all);
  print_row("width error of every pulse (end edge - onset - its width)", tally.width);
  print_row("spacing error, positions 1-59 vs position 0 + n s", tally.minutes.spacing);
  print_row("drift over a minute (LSQ slope x 59 s)", tally.minutes.drift);
  std::printf("\n");
  std::printf(
      "- duty_cycle writes read: %ld; pulses: %ld; missing: %ld; extra: %ld; unexpected length: "
      "%ld\n",
      writes, tally.pulses, tally.missing, tally.extra, tally.unexpected);
  print_minutes(tally.minutes);
  print_use("kolvan", use, ran_s);
  std::printf(
      "- kolvan exit after SIGINT: %s; enable then %s; unexport got %s\n",
      exit_text(status).c_str(),
      enable.size() >= 2 && enable.compare(enable.size() - 2, 2, "0\n") == 0 ? "0" : "not 0",
      unexported == "0\n" ? "0" : "nothing");
  return frames >= minutes ? 0 : 1;
}
