// Child processes for the tests that run the program itself.
#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

namespace {

using Clock = std::chrono::steady_clock;

int ms_left(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Reads what is available within `timeout_ms`; false once both streams ended.
bool collect(Child& child, int timeout_ms) {
  pollfd fds[2] = {{child.out_fd, POLLIN, 0}, {child.err_fd, POLLIN, 0}};
  if (child.out_fd < 0 && child.err_fd < 0) return false;
  if (poll(fds, 2, timeout_ms) <= 0) return true;
  int* ends[2] = {&child.out_fd, &child.err_fd};
  std::string* texts[2] = {&child.out, &child.err};
  for (int i = 0; i < 2; ++i) {
    if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
    char buffer[4096];
    const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
    if (n > 0) {
      texts[i]->append(buffer, static_cast<std::size_t>(n));
    } else {
      close(fds[i].fd);
      *ends[i] = -1;
    }
  }
  return true;
}

}  // namespace

bool start_child(Child& child, const std::vector<std::string>& args,
                 const std::vector<std::string>& env) {
  int out_pipe[2], err_pipe[2];
  if (pipe(out_pipe) != 0) return false;
  if (pipe(err_pipe) != 0) return false;
  child.pid = fork();
  if (child.pid < 0) return false;
  if (child.pid == 0) {
    dup2(out_pipe[1], STDOUT_FILENO);
    dup2(err_pipe[1], STDERR_FILENO);
    close(out_pipe[0]);
    close(err_pipe[0]);
    for (const std::string& setting : env) putenv(const_cast<char*>(setting.c_str()));
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  child.out_fd = out_pipe[0];
  child.err_fd = err_pipe[0];
  return true;
}

namespace {
bool wait_for(Child& child, const std::string& text, const std::string& needle, int timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (text.find(needle) == std::string::npos) {
    if (ms_left(deadline) == 0 || !collect(child, ms_left(deadline))) return false;
  }
  return true;
}
}  // namespace

bool wait_for_output(Child& child, const std::string& needle, int timeout_ms) {
  return wait_for(child, child.out, needle, timeout_ms);
}

bool wait_for_error_output(Child& child, const std::string& needle, int timeout_ms) {
  return wait_for(child, child.err, needle, timeout_ms);
}

int finish_child(Child& child, int timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (ms_left(deadline) > 0 && collect(child, ms_left(deadline))) {
  }
  // The streams close a moment before the child can be reaped.
  int status = 0;
  while (waitpid(child.pid, &status, WNOHANG) == 0) {
    if (ms_left(deadline) == 0) {
      kill(child.pid, SIGKILL);
      waitpid(child.pid, &status, 0);
      return -1;
    }
    usleep(1000);
  }
  child.died_of = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int run_child(Child& child, const std::vector<std::string>& args, int timeout_ms,
              const std::vector<std::string>& env) {
  if (!start_child(child, args, env)) return -1;
  return finish_child(child, timeout_ms);
}
