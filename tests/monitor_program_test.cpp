// kolvan-monitor as a user runs it: its command line and messages, its
// virtual serial port, which others may open and close at will, a device
// read at 9600 8N1, and its clean end on SIGINT and SIGTERM.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "test_support.h"

namespace {

const std::string kMonitor = KOLVAN_MONITOR_BINARY;

int count_of(const std::string& text, const std::string& needle) {
  int n = 0;
  for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
    ++n;
  return n;
}

void write_burst(int fd, std::size_t count) {
  const std::string zeros(count, '\0');
  ASSERT_EQ(write(fd, zeros.data(), zeros.size()), static_cast<ssize_t>(zeros.size()));
}

TEST(MonitorProgram, ADeviceThatCannotBeOpenedExitsOne) {
  Child missing;
  EXPECT_EQ(run_child(missing, {kMonitor, "/nonexistent/tty"}, 5000), 1);
  EXPECT_EQ(missing.err, "kolvan-monitor: can not open /nonexistent/tty: No such file or directory\n");
  EXPECT_EQ(missing.out, "");

  Child not_a_terminal;
  EXPECT_EQ(run_child(not_a_terminal, {kMonitor, "/dev/null"}, 5000), 1);
  EXPECT_EQ(not_a_terminal.err,
            "kolvan-monitor: can not open /dev/null: Inappropriate ioctl for device\n");
}

// Recordings it refuses at once, status 1: a FIFO (which would hang it), an
// absurd sample rate, and a name whose control characters are shown escaped.
TEST(MonitorProgram, RecordingsItCanNotReadAreRefused) {
  const std::string dir = testing::TempDir() + "kolvan-wav-" + std::to_string(getpid());
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  const std::string fifo = dir + "/fifo.wav";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // A header by hand: PCM, one channel, 4000 Hz, 16 bits, no samples.
  const unsigned char slow[] = {'R', 'I', 'F', 'F', 36, 0, 0, 0, 'W', 'A', 'V', 'E',
                                'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 1, 0,
                                0xA0, 0x0F, 0, 0, 0x40, 0x1F, 0, 0, 2, 0, 16, 0,
                                'd', 'a', 't', 'a', 0, 0, 0, 0};
  const std::string slow_path = dir + "/slow.wav";
  const int fd = open(slow_path.c_str(), O_WRONLY | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, slow, sizeof slow), static_cast<ssize_t>(sizeof slow));
  close(fd);
  struct Case {
    std::string path, message;
  };
  const Case cases[] = {
      {fifo, fifo + ": not a regular file (a recording is read from a WAV file, a sound card "
                    "with --audio)"},
      {slow_path, slow_path + ": a sample rate of 4000 Hz; kolvan-monitor reads 8000 to 768000 Hz"},
      {dir + "/a\nb\x1b[2J.wav", dir + "/a\\x0ab\\x1b[2J.wav: No such file or directory"},
  };
  for (const Case& c : cases) {
    Child child;
    EXPECT_EQ(run_child(child, {kMonitor, c.path}, 5000), 1) << c.path;
    EXPECT_EQ(child.err, "kolvan-monitor: can not open " + c.message + "\n");
  }
  unlink(fifo.c_str());
  unlink(slow_path.c_str());
  rmdir(dir.c_str());
}

TEST(MonitorProgram, AWrongCommandLineSaysWhyAndPrintsUsage) {
  const std::string usage =
      "Usage: kolvan-monitor [--station=NAME] [DEVICE]\n"
      "       kolvan-monitor [--station=NAME] --audio[=DEVICE] | FILE.wav\n";
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{"a", "b"}, ""},
      {{"--station=wwv", "a"}, "kolvan-monitor: unknown station 'wwv' (one of "},
      {{"--station"}, "kolvan-monitor: option '--station' needs a station name\n"},
      {{"--baud=50"}, "kolvan-monitor: unknown option '--baud=50'\n"},
      // Escaped as kolvan escapes it: the name can't move the console's cursor.
      {{"--bo\x1b[2Jgus"}, "kolvan-monitor: unknown option '--bo\\x1b[2Jgus'\n"},
      {{"--audio", "/dev/ttyUSB0"}, ""},  // sound or a line, not both
  };
  for (const Case& c : cases) {
    std::vector<std::string> argv = {kMonitor};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    Child child;
    EXPECT_EQ(run_child(child, argv, 5000), 2) << c.args[0];
    EXPECT_EQ(child.err.substr(0, c.message.size()), c.message);
    ASSERT_GE(child.err.size(), usage.size());
    EXPECT_EQ(child.err.substr(child.err.size() - usage.size()), usage);
    EXPECT_EQ(child.out, "");
  }
  Child help;
  EXPECT_EQ(run_child(help, {kMonitor, "--help"}, 5000), 0);
  EXPECT_EQ(help.out.substr(0, usage.size()), usage);
  // --version as kolvan answers it, with the project's version.
  Child version;
  EXPECT_EQ(run_child(version, {kMonitor, "--version"}, 5000), 0);
  EXPECT_EQ(version.out, "kolvan-monitor " KOLVAN_PROJECT_VERSION "\n");
  EXPECT_EQ(version.err, "");
}

TEST(MonitorProgram, VirtualPortOutlivesItsUsersAndEndsOnSigint) {
  Child monitor;
  ASSERT_TRUE(start_child(monitor, {kMonitor}));
  ASSERT_TRUE(wait_for_output(monitor, "\n", 5000)) << monitor.err;
  std::smatch match;
  const std::string first = monitor.out.substr(0, monitor.out.find('\n') + 1);
  ASSERT_TRUE(std::regex_match(first, match, std::regex("Virtual serial port: (/dev/pts/[0-9]+)\n")))
      << first;
  const std::string path = match[1];

  // Three users in turn, one second apart, each sending a burst of a
  // length no symbol has and closing the port again.
  for (int i = 0; i < 3; ++i) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    write_burst(fd, 300);
    close(fd);
    // Each burst is reported once the line has been idle for 100 ms.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (count_of(monitor.out, "unexpected pulse of 300 bytes") < i + 1 &&
           std::chrono::steady_clock::now() < deadline)
      wait_for_output(monitor, "\x01", 50);  // collects for 50 ms
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  }
  kill(monitor.pid, SIGINT);
  EXPECT_EQ(finish_child(monitor, 5000), 0) << monitor.err;
  EXPECT_EQ(count_of(monitor.out, "unexpected pulse of 300 bytes at "), 3) << monitor.out;
  EXPECT_EQ(monitor.err, "");
}

TEST(MonitorProgram, ReadsADeviceAndEndsOnSigterm) {
  Pty pty;
  ASSERT_FALSE(pty.path.empty());
  const std::string name = pty.path;
  const int master = pty.master;
  Child monitor;
  ASSERT_TRUE(start_child(monitor, {kMonitor, name}));
  ASSERT_TRUE(wait_for_output(monitor, "\n", 5000)) << monitor.err;
  EXPECT_EQ(monitor.out, "Listening on " + std::string(name) + " at 9600 8N1\n");
  // The master's writes arrive on the slave's receive side.
  write_burst(master, 600);
  EXPECT_TRUE(wait_for_output(monitor, "unexpected pulse of 600 bytes at ", 2000)) << monitor.out;
  kill(monitor.pid, SIGTERM);
  EXPECT_EQ(finish_child(monitor, 5000), 0) << monitor.err;
}

}  // namespace
