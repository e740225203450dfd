// The program as a user runs it: its command line, its messages and exit
// statuses, and its orderly end on Ctrl-C, on a pseudo-terminal.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "child_process.h"

namespace {

const std::string kProgram = KOLVAN_BINARY;
const std::string kUsage = "Usage: Kolvan COM_PORT [offset_sec]\n";

// A pseudo-terminal pair; the program opens the slave by its path.
struct Pty {
  int master = -1, slave = -1;
  std::string path;
  Pty() {
    char name[128];
    if (openpty(&master, &slave, name, nullptr, nullptr) == 0) path = name;
    close(slave);  // the program must be the only one holding the slave
  }
  ~Pty() { close(master); }
};

// The "Setting:" line for host time `now` + offset + 1 in Japan (UTC+9).
std::string setting_line(std::time_t now, int offset_sec) {
  const std::time_t shown = now + offset_sec + 1 + 9 * 3600;
  std::tm fields;
  gmtime_r(&shown, &fields);
  char line[64];
  std::snprintf(line, sizeof line, "Setting: %04d/%02d/%02d %02d:%02d:%02d\n",
                fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday, fields.tm_hour,
                fields.tm_min, fields.tm_sec);
  return line;
}

TEST(Program, WrongArgumentCountPrintsUsageAndExitsZero) {
  for (const auto& args : {std::vector<std::string>{kProgram},
                           std::vector<std::string>{kProgram, "1", "2", "3"}}) {
    Child child;
    EXPECT_EQ(run_child(child, args, 5000), 0);
    EXPECT_EQ(child.err, kUsage);
    EXPECT_EQ(child.out, "");
  }
}

TEST(Program, PortThatCannotBeOpenedExitsOne) {
  Child by_number;  // "abc" converts to port 0, which names no device here
  EXPECT_EQ(run_child(by_number, {kProgram, "abc"}, 5000), 1);
  EXPECT_EQ(by_number.err, "Can not open COM0\n");
  EXPECT_EQ(by_number.out, "");

  Child by_path;
  EXPECT_EQ(run_child(by_path, {kProgram, "/nonexistent/tty", "5"}, 5000), 1);
  EXPECT_EQ(by_path.err, "Can not open /nonexistent/tty\n");

  // A sound device ALSA has no definition of; the reason is ALSA's own.
  Child audio;
  EXPECT_EQ(run_child(audio, {kProgram, "--audio=no_such_device"}, 5000), 1);
  EXPECT_EQ(audio.err, "Can not open audio device no_such_device: No such file or directory\n");
  EXPECT_EQ(audio.out, "");
}

TEST(Program, ShowsTheShiftedLocalTimeAndExitsCleanlyOnInterrupt) {
  Pty pty;
  ASSERT_FALSE(pty.path.empty());
  const std::time_t before = std::time(nullptr);
  Child child;
  ASSERT_TRUE(start_child(child, {kProgram, pty.path, "-30"}, {"TZ=JST-9"}));
  ASSERT_TRUE(wait_for_output(child, "\n", 5000)) << child.err;
  const std::time_t after = std::time(nullptr);
  const std::string line = child.out.substr(0, child.out.find('\n') + 1);
  EXPECT_TRUE(line == setting_line(before, -30) || line == setting_line(after, -30)) << line;

  // A second instance is refused while the first holds the device.
  Child second;
  EXPECT_EQ(run_child(second, {kProgram, pty.path}, 5000), 1);
  EXPECT_EQ(second.err, "Can not open " + pty.path + "\n");

  kill(child.pid, SIGINT);
  EXPECT_EQ(finish_child(child, 5000), 0);
  ASSERT_GE(child.out.size(), 7u);
  EXPECT_EQ(child.out.substr(child.out.size() - 7), "\nExit!\n");

  // The device is free again at once.
  const int fd = open(pty.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
  close(fd);
}

TEST(Program, OffsetThatIsNotANumberCountsAsZero) {
  Pty pty;
  const std::time_t before = std::time(nullptr);
  Child child;
  ASSERT_TRUE(start_child(child, {kProgram, pty.path, "xyz"}, {"TZ=JST-9"}));
  ASSERT_TRUE(wait_for_output(child, "\n", 5000)) << child.err;
  const std::time_t after = std::time(nullptr);
  kill(child.pid, SIGINT);
  EXPECT_EQ(finish_child(child, 5000), 0);
  const std::string line = child.out.substr(0, child.out.find('\n') + 1);
  EXPECT_TRUE(line == setting_line(before, 0) || line == setting_line(after, 0)) << line;
}

}  // namespace
