// kolvan-monitor: reads a line keyed by kolvan back and decodes it, one line
// a minute, reporting every pulse of a wrong shape and every missing one.
//
//   kolvan-monitor [--station=NAME] [DEVICE]
//   kolvan-monitor [--station=NAME] --audio[=DEVICE] | FILE.wav
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

#include "carrier/port_name.h"
#include "monitor/audio_monitor.h"
#include "monitor/line_monitor.h"
#include "monitor/line_port.h"
#include "monitor/stop_request.h"
#include "stations/station.h"

namespace {

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
};

bool starts_with(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

bool set_station(const char* name, MonitorOptions& options, std::string& error) {
  options.station = find_station(name);
  if (options.station == nullptr)
    error = unknown_station_text(name);
  return options.station != nullptr;
}

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
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      options.help = true;
      return true;
    }
    if (starts_with(arg, "--station=")) {
      if (!set_station(arg + std::strlen("--station="), options, error)) return false;
    } else if (std::strcmp(arg, "--station") == 0) {
      if (i + 1 >= argc) {
        error = "option '--station' needs a station name";
        return false;
      }
      if (!set_station(argv[++i], options, error)) return false;
    } else if (names_audio_input(arg)) {
      options.audio = arg;
    } else {
      error = std::string("unknown option '") + arg + "'";
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
  if (!parse_options(argc, argv, options, error)) {
    if (!error.empty()) std::fprintf(stderr, "kolvan-monitor: %s\n", error.c_str());
    std::fputs(kUsage, stderr);
    return 2;
  }
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
