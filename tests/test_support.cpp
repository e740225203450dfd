// The helpers shared by the tests that run ports and programs.
#include "test_support.h"

#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <algorithm>

Pty::Pty() {
  char name[256] = {};
  int slave = -1;
  if (openpty(&master, &slave, name, nullptr, nullptr) != 0) return;
  close(slave);
  path = name;
}

Pty::~Pty() {
  if (master >= 0) close(master);
}

std::string Pty::received(std::size_t limit, int timeout_ms) const {
  std::string bytes;
  pollfd ready{master, POLLIN, 0};
  char chunk[1024];
  while (bytes.size() < limit && poll(&ready, 1, timeout_ms) > 0) {
    const ssize_t n = read(master, chunk, std::min(sizeof chunk, limit - bytes.size()));
    if (n <= 0) break;
    bytes.append(chunk, static_cast<std::size_t>(n));
  }
  return bytes;
}

std::tm japan_time(std::int64_t second) {
  const std::time_t shown = static_cast<std::time_t>(second + 9 * 3600);
  std::tm fields{};
  gmtime_r(&shown, &fields);
  return fields;
}

const char kFaketimeLibrary[] = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1";

bool faketime_env(const std::string& faketime, std::vector<std::string>& env, std::string& why) {
  if (access(kFaketimeLibrary, R_OK) != 0) {
    why = std::string(kFaketimeLibrary) + " is missing (Debian package libfaketime): skipped";
    return false;
  }
  env.push_back(std::string("LD_PRELOAD=") + kFaketimeLibrary);
  env.push_back("FAKETIME=" + faketime);
  env.push_back("ASAN_OPTIONS=verify_asan_link_order=0");
  return true;
}

std::string without_host_clock_lines(const std::string& err) {
  std::string kept;
  std::size_t start = 0;
  while (start < err.size()) {
    std::size_t end = err.find('\n', start);
    end = end == std::string::npos ? err.size() : end + 1;
    const std::string line = err.substr(start, end - start);
    if (line.rfind("kolvan: the host clock is ", 0) != 0) kept += line;
    start = end;
  }
  return kept;
}
