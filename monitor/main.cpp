// kolvan-monitor: reads a line keyed by kolvan back and decodes it, one line
// a minute, reporting every pulse of a wrong shape and every missing one.
// Its command line is kUsage below; the options it shares with kolvan are
// read by cli/command_line.
//
// With a DEVICE (whose receive line is wired to the transmit line of the
// port kolvan keys), reads it at 9600 8N1. Without one, makes a virtual
// serial port, prints "Virtual serial port: /dev/pts/N" and listens on it:
// run kolvan on that path. Ends with status 0 on SIGINT or SIGTERM, 1 when
// the device can't be opened or fails, 2 for a wrong command line. With
// --audio it records a capture device (a sound server's monitor source,
// say), with FILE.wav it reads a recording.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/escaped_name.h"
#include "cli/command_line.h"
#include "monitor/audio_monitor.h"
#include "monitor/line_monitor.h"
#include "monitor/line_port.h"
#include "monitor/stop_request.h"
#include "stations/station.h"

namespace {

constexpr const char* kProgram = "kolvan-monitor";
constexpr int kPollMs = 50;

void print_line(const std::string& line) {
  if (line.empty()) return;
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

constexpr char kUsage[] =
    "Usage: kolvan-monitor [--station=NAME] [DEVICE]\n"
    "       kolvan-monitor [--station=NAME] --audio[=DEVICE] | FILE.wav\n";

struct MonitorOptions {
  const Station* station = &default_station();
  const char* device = nullptr;  // null for a virtual serial port
  const char* audio = nullptr;   // --audio[=DEVICE] or FILE.wav: sound instead of a line
  bool help = false;
  bool version = false;
};

// Options first, then at most a DEVICE. False with `error` set (empty for
// a wrong count of arguments) when the command line is wrong.
bool parse_options(int argc, char** argv, MonitorOptions& options, std::string& error) {
  int i = 1;
  for (; i < argc && argv[i][0] == '-' && argv[i][1] != '\0'; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--") == 0) {
      ++i;
      break;
    }
    switch (read_common_option(kProgram, argc, argv, i, options.station, error)) {
      case CommonOption::Help:
        options.help = true;
        return true;
      case CommonOption::Version:
        options.version = true;
        return true;
      case CommonOption::Error:
        return false;
      case CommonOption::Station:
        continue;
      case CommonOption::None:
        break;
    }
    if (std::strcmp(arg, "-h") == 0) {
      options.help = true;
      return true;
    }
    if (names_audio_input(arg)) {
      options.audio = arg;
    } else {
      error = unknown_option_error(kProgram, arg);
      return false;
    }
  }
  if (argc - i > 1) return false;
  if (argc - i == 1) options.device = argv[i];
  // A WAV file is read as sound; sound and a DEVICE don't go together.
  if (options.device != nullptr && names_audio_input(options.device) && options.audio == nullptr) {
    options.audio = options.device;
    options.device = nullptr;
  }
  return options.audio == nullptr || options.device == nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  MonitorOptions options;
  std::string error;
  if (!parse_options(argc, argv, options, error)) return refuse_command_line(error, kUsage);
  if (options.version) return show_version(kProgram);
  if (options.help) {
    std::printf("%sStations: %s (default %s)\n", kUsage, station_names().c_str(),
                default_station().name);
    return 0;
  }
  install_stop_handlers();
  if (options.audio != nullptr) {
    LineMonitor monitor(*options.station);
    return monitor_audio(options.audio, *options.station, monitor, stop_requested, print_line);
  }

  LinePort port;
  if (options.device != nullptr) {
    if (!open_device_line(port, options.device)) {
      std::fprintf(stderr, "kolvan-monitor: can not open %s: %s\n",
                   escaped_name(options.device).c_str(),
                   std::strerror(errno));
      return 1;
    }
    print_line("Listening on " + escaped_name(port.path) + " at 9600 8N1");
  } else {
    if (!open_virtual_line(port)) {
      std::fprintf(stderr, "kolvan-monitor: can not make a virtual serial port: %s\n",
                   std::strerror(errno));
      return 1;
    }
    print_line("Virtual serial port: " + port.path);
  }

  LineMonitor monitor(*options.station);
  std::vector<LineEvent> events;
  int status = 0;
  while (!stop_requested) {
    events.clear();
    const bool ok = poll_line(port, kPollMs, monitor, events);
    for (const LineEvent& event : events) print_line(format_line_event(event));
    if (!ok) {
      std::fprintf(stderr, "kolvan-monitor: %s: %s\n", escaped_name(port.path).c_str(),
                   errno != 0 ? std::strerror(errno) : "hung up");
      status = 1;
      break;
    }
  }
  close_line(port);
  return status;
}
