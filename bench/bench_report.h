// What every benchmark does the same way: starts kolvan, measures the
// minutes it read back, and reports a program's CPU time and peak memory
// from /proc and the rows of the timing table (count, min, median, p99, max).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "monitor/minute_reader.h"

// The clock `id` (CLOCK_MONOTONIC for how long a run took, CLOCK_REALTIME
// for when a signal arrived) in microseconds.
std::int64_t clock_us(clockid_t id);

// kolvan with its one argument (a port, --audio, --pwm=...), its console
// sent to /dev/null; the child's pid, or -1 when it can't be forked.
pid_t start_kolvan(const char* binary, const std::string& argument);

// The decoded minutes, measured in milliseconds.
struct MinuteTally {
  std::vector<double> onset0;   // position 0's onset after the host's second
  std::vector<double> spacing;  // each onset against position 0's + n seconds
  std::vector<double> drift;    // least-squares slope of the spacing, over 59 s
  int decoded = 0, matching = 0, undecodable = 0;
};

void tally_minute(const LineMinute& minute, MinuteTally& tally);

// The "- minutes: ..." line of a report.
void print_minutes(const MinuteTally& tally);

// kolvan's end as waitpid gave it: "status N" or "killed by a signal".
std::string exit_text(int status);

struct ProcessUse {
  double cpu_stat_s = -1;       // utime + stime from /proc/PID/stat
  double cpu_schedstat_s = -1;  // time on a CPU from /proc/PID/task/*/schedstat, every thread
  long peak_rss_kib = -1;       // VmHWM
};

// Read while the process still runs.
ProcessUse process_use(pid_t pid);

// "| what | n | min | median | p99 | max |", in ms with two decimals.
void print_row(const char* what, std::vector<double> values);

// The lines on the program's CPU time over `ran_s` and its peak memory.
void print_use(const char* program, const ProcessUse& use, double ran_s);
