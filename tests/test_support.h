// What the tests that run ports and programs share, written once: a
// pseudo-terminal, a second in Japan's time, and libfaketime.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

// A pseudo-terminal pair. The test keeps the master and sees on it what the
// port's transmit line carries; the slave is closed at once, so that the
// program or the carrier under test, which opens it by `path`, is the only
// one holding it. `path` is empty when no pair could be had.
struct Pty {
  int master = -1;
  std::string path;
  Pty();
  ~Pty();
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;
  // Everything the master receives until `timeout_ms` pass without a byte,
  // up to `limit` bytes.
  std::string received(std::size_t limit, int timeout_ms) const;
};

// The calendar fields of `second` (since the epoch) in Japan, UTC+9, the
// zone the tests run the program in (TZ=JST-9).
std::tm japan_time(std::int64_t second);

// The libfaketime library the tests preload.
extern const char kFaketimeLibrary[];

// Adds to `env` what runs a program under libfaketime with `faketime` as
// its FAKETIME ("@2028-02-29 09:13:50 x10", "+3600"). False when the library
// is missing; the caller then skips its test with the message `why`, never
// fails and never falls back to the real clock.
bool faketime_env(const std::string& faketime, std::vector<std::string>& env, std::string& why);

// Standard error without the lines that say the host clock isn't
// synchronised (or is again), which depend on the machine the tests run on.
std::string without_host_clock_lines(const std::string& err);
