// The benchmarks' shared parts: starting kolvan, the minutes it sent
// measured, /proc's account of a process and the rows of the timing table.
#include "bench/bench_report.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace {

// Nearest-rank percentile of sorted values.
double percentile(const std::vector<double>& sorted, double p) {
  if (sorted.empty()) return NAN;
  std::size_t rank = static_cast<std::size_t>(std::ceil(p * static_cast<double>(sorted.size())));
  rank = std::max<std::size_t>(rank, 1);
  return sorted[std::min(rank, sorted.size()) - 1];
}

// The host's local time of the minute's position 0 is the minute it carries
// (kolvan runs without an offset, and the bench in kolvan's zone).
bool matches_local_time(const LineMinute& m) {
  const std::time_t when = static_cast<std::time_t>(m.first_second);
  std::tm t{};
  localtime_r(&when, &t);
  return m.time.minute == t.tm_min && m.time.hour == t.tm_hour && m.time.day == t.tm_mday &&
         m.time.month == t.tm_mon + 1 && m.time.year == t.tm_year + 1900;
}

}  // namespace

std::int64_t clock_us(clockid_t id) {
  timespec now{};
  clock_gettime(id, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

pid_t start_kolvan(const char* binary, const std::string& argument) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  const int null = open("/dev/null", O_WRONLY);
  if (null >= 0) dup2(null, STDOUT_FILENO);
  execl(binary, binary, argument.c_str(), static_cast<char*>(nullptr));
  std::perror(binary);
  _exit(127);
}

void tally_minute(const LineMinute& m, MinuteTally& t) {
  if (!m.decoded) {
    ++t.undecodable;
    return;
  }
  ++t.decoded;
  t.matching += matches_local_time(m);
  const double first = static_cast<double>(m.onset_us[0]);
  t.onset0.push_back((first - static_cast<double>(m.first_second) * 1e6) / 1000.0);
  // Least-squares slope of the spacing error over the positions read.
  double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (int p = 1; p < 60; ++p) {
    if (m.onset_us[p] == kNoOnset) continue;  // a silent position
    const double error = (static_cast<double>(m.onset_us[p]) - first - p * 1e6) / 1000.0;
    t.spacing.push_back(error);
    n += 1;
    sx += p;
    sy += error;
    sxx += static_cast<double>(p) * p;
    sxy += p * error;
  }
  if (n >= 2) t.drift.push_back((n * sxy - sx * sy) / (n * sxx - sx * sx) * 59.0);
}

void print_minutes(const MinuteTally& t) {
  std::printf(
      "- minutes: %d decoded, %d undecodable; %d of %d decoded match the host's local time%s\n",
      t.decoded, t.undecodable, t.matching, t.decoded,
      t.decoded > 0 && t.matching == t.decoded && t.undecodable == 0 ? " (all correct)" : "");
}

std::string exit_text(int status) {
  return WIFEXITED(status) ? "status " + std::to_string(WEXITSTATUS(status))
                           : "killed by a signal";
}

ProcessUse process_use(pid_t pid) {
  ProcessUse use;
  const std::string dir = "/proc/" + std::to_string(pid);
  std::ifstream stat(dir + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const std::size_t end_of_name = text.rfind(')');
  if (end_of_name != std::string::npos) {
    std::istringstream fields(text.substr(end_of_name + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {  // field 3 is the state
      if (i == 14) utime = std::stoull(field);
      if (i == 15) stime = std::stoull(field);
    }
    use.cpu_stat_s = static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
  }
  // Every thread's (the sound output and the PWM pin have a writer thread,
  // and a sound server's client library one more).
  double on_cpu_s = 0;
  bool any = false;
  if (DIR* tasks = opendir((dir + "/task").c_str())) {
    while (const dirent* task = readdir(tasks)) {
      if (task->d_name[0] == '.') continue;
      std::ifstream schedstat(dir + "/task/" + task->d_name + "/schedstat");
      unsigned long long on_cpu_ns = 0;
      if (schedstat >> on_cpu_ns) {
        on_cpu_s += static_cast<double>(on_cpu_ns) / 1e9;
        any = true;
      }
    }
    closedir(tasks);
  }
  if (any) use.cpu_schedstat_s = on_cpu_s;
  std::ifstream status(dir + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) use.peak_rss_kib = std::atol(line.c_str() + 6);
  return use;
}

void print_row(const char* what, std::vector<double> values) {
  std::sort(values.begin(), values.end());
  if (values.empty()) {
    std::printf("| %s | 0 | - | - | - | - |\n", what);
    return;
  }
  std::printf("| %s | %zu | %.2f | %.2f | %.2f | %.2f |\n", what, values.size(), values.front(),
              percentile(values, 0.5), percentile(values, 0.99), values.back());
}

void print_use(const char* program, const ProcessUse& use, double ran_s) {
  std::printf(
      "- %s CPU: %.2f s (stat utime+stime, %ld Hz ticks) / %.3f s (schedstat) in %.0f s"
      " = %.2f / %.3f s per hour = %.3f %% of one core\n",
      program, use.cpu_stat_s, sysconf(_SC_CLK_TCK), use.cpu_schedstat_s, ran_s,
      use.cpu_stat_s * 3600.0 / ran_s, use.cpu_schedstat_s * 3600.0 / ran_s,
      use.cpu_schedstat_s * 100.0 / ran_s);
  std::printf("- %s peak RSS (VmHWM): %ld KiB\n", program, use.peak_rss_kib);
}
