// What every benchmark reports the same way: a program's CPU time and peak
// memory from /proc, and one row of the timing table (count, min, median,
// p99, max).
#pragma once

#include <sys/types.h>

#include <vector>

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
