// Runs the program under test as a child process with its standard output
// and error captured, bounded in time: every wait has a deadline and a
// child still running at the end is killed.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

struct Child {
  pid_t pid = -1;
  int out_fd = -1;
  int err_fd = -1;
  std::string out;
  std::string err;
  int died_of = 0;  // the signal that ended it, once finished; 0 when it exited
};

// Starts `args[0]` with the rest as its arguments; `env` entries
// ("NAME=value") are added to this process's environment.
bool start_child(Child& child, const std::vector<std::string>& args,
                 const std::vector<std::string>& env = {});

// Collects output until `needle` shows on standard output (true) or
// `timeout_ms` passes (false).
bool wait_for_output(Child& child, const std::string& needle, int timeout_ms);

// The same on standard error.
bool wait_for_error_output(Child& child, const std::string& needle, int timeout_ms);

// Collects output until the child ends; kills it after `timeout_ms`.
// Returns its exit status, or -1 when it was killed or died of a signal.
int finish_child(Child& child, int timeout_ms);

// Runs a program to its end and returns its exit status.
int run_child(Child& child, const std::vector<std::string>& args, int timeout_ms,
              const std::vector<std::string>& env = {});
