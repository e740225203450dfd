// kolvan-monitor: reads a line keyed by kolvan back and decodes it, one line
// a minute, reporting every pulse of a wrong length and every missing one.
//
//   kolvan-monitor [DEVICE]
//   kolvan-monitor --audio[=DEVICE] | FILE.wav
//
// With a DEVICE (whose receive line is wired to the transmit line of the
// port kolvan keys), reads it at 9600 8N1. Without one, makes a virtual
// serial port, prints "Virtual serial port: /dev/pts/N" and listens on it:
// run kolvan on that path. Ends with status 0 on SIGINT or SIGTERM, 1 when
// the device can't be opened or fails. With --audio it reads a capture
// device (a sound server's monitor source, say), with FILE.wav a recording.
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "monitor/audio_monitor.h"
#include "monitor/line_monitor.h"
#include "monitor/line_port.h"

namespace {

// Set by SIGINT and SIGTERM; the read loop sees it at its next poll timeout.
volatile sig_atomic_t stop_requested = 0;
extern "C" void on_stop(int) { stop_requested = 1; }

// Without SA_RESTART, so that a signal also ends the current poll at once.
void install_stop_handlers() {
  struct sigaction action = {};
  action.sa_handler = on_stop;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

constexpr int kPollMs = 50;

void print_line(const std::string& line) {
  if (line.empty()) return;
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 || (argc == 2 && (std::strcmp(argv[1], "-h") == 0 ||
                                 std::strcmp(argv[1], "--help") == 0))) {
    std::fputs("Usage: kolvan-monitor [DEVICE | --audio[=DEVICE] | FILE.wav]\n",
               argc > 2 ? stderr : stdout);
    return argc > 2 ? 2 : 0;
  }
  install_stop_handlers();
  if (argc == 2 && names_audio_input(argv[1])) {
    LineMonitor monitor;
    return monitor_audio(argv[1], default_station(), monitor, stop_requested, print_line);
  }

  LinePort port;
  if (argc == 2) {
    if (!open_device_line(port, argv[1])) {
      std::fprintf(stderr, "kolvan-monitor: can not open %s: %s\n", argv[1],
                   std::strerror(errno));
      return 1;
    }
    print_line("Listening on " + port.path + " at 9600 8N1");
  } else {
    if (!open_virtual_line(port)) {
      std::fprintf(stderr, "kolvan-monitor: can not make a virtual serial port: %s\n",
                   std::strerror(errno));
      return 1;
    }
    print_line("Virtual serial port: " + port.path);
  }

  LineMonitor monitor;
  std::vector<LineEvent> events;
  int status = 0;
  while (!stop_requested) {
    events.clear();
    const bool ok = poll_line(port, kPollMs, monitor, events);
    for (const LineEvent& event : events) print_line(format_line_event(event));
    if (!ok) {
      std::fprintf(stderr, "kolvan-monitor: %s: %s\n", port.path.c_str(),
                   errno != 0 ? std::strerror(errno) : "hung up");
      status = 1;
      break;
    }
  }
  close_line(port);
  return status;
}
