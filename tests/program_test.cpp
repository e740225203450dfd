// The program as a user runs it: its command line, its messages and exit
// statuses, and its orderly end on Ctrl-C, on a pseudo-terminal.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>

#include "child_process.h"
#include "test_support.h"

namespace {

const std::string kProgram = KOLVAN_BINARY;
const std::string kUsage = "Usage: Kolvan COM_PORT [offset_sec]\n";
const char kSocat[] = "/usr/bin/socat";

// The "Setting:" line for host time `now` + offset + 1 in Japan (UTC+9).
std::string setting_line(std::time_t now, int offset_sec) {
  const std::tm fields = japan_time(now + offset_sec + 1);
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

// What a service manager must see as failures: a wrong option, a wrong
// count of operands after an option, an offset beyond any integer.
TEST(Program, WrongCommandLineWithOptionsExitsTwo) {
  for (const auto& args : {std::vector<std::string>{kProgram, "--bogus", "3"},
                           std::vector<std::string>{kProgram, "--audio", "/dev/ttyUSB0", "0"},
                           std::vector<std::string>{kProgram, "3", "-99999999999"}}) {
    Child child;
    EXPECT_EQ(run_child(child, args, 5000), 2) << args[1];
    EXPECT_EQ(child.err.rfind("kolvan: ", 0), 0u) << child.err;
    EXPECT_NE(child.err.find("Usage: kolvan "), std::string::npos) << child.err;
    EXPECT_EQ(child.out, "");
  }
}

TEST(Program, PortThatCannotBeOpenedExitsOneAndSaysWhy) {
  // Only all digits are a port number: "abc" converts to port 0 as ever,
  // and "1O" to port 1, whose device (the console's) is left alone.
  for (const char* typo : {"abc", "1O"}) {
    Child by_number;
    EXPECT_EQ(run_child(by_number, {kProgram, typo}, 5000), 1);
    EXPECT_EQ(by_number.err, std::string("Can not open COM") + (typo[0] == '1' ? "1" : "0") +
                                 "\nkolvan: " + typo +
                                 " is not a port number; give a number or a device path such as "
                                 "/dev/ttyUSB0\n");
    EXPECT_EQ(by_number.out, "");
  }

  Child by_path;
  EXPECT_EQ(run_child(by_path, {kProgram, "/nonexistent/tty", "5"}, 5000), 1);
  EXPECT_EQ(by_path.err, "Can not open /nonexistent/tty\nkolvan: /nonexistent/tty: " +
                             std::string(std::strerror(ENOENT)) + "\n");

  // A sound device ALSA has no definition of; the reason is ALSA's own. A
  // build without the sound card (the static ARMv6 one) refuses --audio
  // before it opens anything, with what to use instead.
  Child audio;
  if (KOLVAN_HAS_AUDIO) {
    EXPECT_EQ(run_child(audio, {kProgram, "--audio=no_such_device"}, 5000), 1);
    EXPECT_EQ(audio.err, "Can not open audio device no_such_device: No such file or directory\n");
  } else {
    EXPECT_EQ(run_child(audio, {kProgram, "--audio=no_such_device"}, 5000), 2);
    const std::string first = audio.err.substr(0, audio.err.find('\n') + 1);
    EXPECT_EQ(first.rfind("kolvan: --audio: this kolvan is linked statically", 0), 0u) << first;
    for (const char* instead : {"--pwm", "the arm64 package", "docs/building.md)\n"})
      EXPECT_NE(first.find(instead), std::string::npos) << instead;
    EXPECT_EQ(audio.err.substr(first.size(), 7), "Usage: ");
    Child help;
    EXPECT_EQ(run_child(help, {kProgram, "--help"}, 5000), 0);
    EXPECT_NE(help.out.find("  --audio[=DEVICE]  the sound card: not in this build"),
              std::string::npos)
        << help.out;
  }
  EXPECT_EQ(audio.out, "");

  // A PWM chip that isn't there; a channel that isn't a number is a usage error.
  Child pwm;
  EXPECT_EQ(run_child(pwm, {kProgram, "--pwm=/nonexistent/pwmchip0:0"}, 5000), 1);
  EXPECT_EQ(pwm.err, "Can not open PWM /nonexistent/pwmchip0:0\nkolvan: /nonexistent/pwmchip0: " +
                         std::string(std::strerror(ENOENT)) + "\n");
  Child malformed;
  EXPECT_EQ(run_child(malformed, {kProgram, "--pwm=pwmchip0:a"}, 5000), 2);
  EXPECT_EQ(malformed.err.rfind("kolvan: --pwm=pwmchip0:a: CHANNEL after the ':' is a number", 0), 0u)
      << malformed.err;
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
  EXPECT_EQ(second.err, "Can not open " + pty.path + "\nkolvan: " + pty.path +
                            " is held by another program\n");

  // Interrupted in the middle of a line: that line stays unfinished and the
  // message brings its own line end.
  ASSERT_TRUE(wait_for_output(child, "==> ", 5000)) << child.out;
  kill(child.pid, SIGINT);
  EXPECT_EQ(finish_child(child, 5000), 0);
  const std::string tail = "==> \nExit!\n";
  ASSERT_GE(child.out.size(), tail.size());
  const std::string end = child.out.substr(child.out.rfind("==> "));
  EXPECT_EQ(end.substr(end.size() - 7), "\nExit!\n");
  EXPECT_NE(end.substr(end.size() - 8, 1), "\n") << child.out;

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

// --time: the first line is the time chosen, to the second (or the next,
// should a second begin meanwhile); no minute needs to pass.
TEST(Program, TimeSetsTheFirstSettingLineToTheSecond) {
  Pty pty;
  Child child;
  ASSERT_TRUE(start_child(child, {kProgram, "--time=2027-05-15T12:34:56", pty.path}, {"TZ=JST-9"}));
  ASSERT_TRUE(wait_for_output(child, "\n", 5000)) << child.err;
  kill(child.pid, SIGINT);
  EXPECT_EQ(finish_child(child, 5000), 0);
  const std::string line = child.out.substr(0, child.out.find('\n') + 1);
  EXPECT_TRUE(line == "Setting: 2027/05/15 12:34:56\n" || line == "Setting: 2027/05/15 12:34:57\n")
      << line;
}

// --carrier --minutes=1 holds the carrier for the minute, not a second.
TEST(Program, CarrierForAMinuteIsStillOnAfterItsFirstSeconds) {
  Pty pty;
  Child child;
  ASSERT_TRUE(start_child(child, {kProgram, "--carrier", "--minutes=1", pty.path}));
  ASSERT_TRUE(wait_for_output(child, "\n", 5000)) << child.err;
  usleep(1500000);
  EXPECT_EQ(waitpid(child.pid, nullptr, WNOHANG), 0) << "ended within 1.5 s: " << child.out;
  kill(child.pid, SIGINT);
  EXPECT_EQ(finish_child(child, 5000), 0);
}

std::string file_text(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// Every signal that ends kolvan turns its output off first, even during
// set-up: a PWM channel kolvan exported itself, on a fake chip whose channel
// never appears, is taken back while kolvan still waits for it. Ctrl-C ends
// with status 0; SIGTERM and SIGHUP, after the same clean-up and line, by
// their own signal, as a shell or a service manager expects. While
// --wait-sync waits (on a clock the kernel calls unsynchronised), nothing
// is opened: the channel isn't even exported.
TEST(Program, EverySignalThatEndsItCleansUpFirstEvenDuringSetUp) {
  const std::string chip = testing::TempDir() + "kolvan-chip-" + std::to_string(getpid());
  const struct {
    int signal;
    bool wait_sync;
  } kCases[] = {{SIGINT, false}, {SIGTERM, false}, {SIGHUP, false}, {SIGINT, true}};
  for (const auto& c : kCases) {
    const int s = c.signal;
    SCOPED_TRACE(std::string(strsignal(s)) + (c.wait_sync ? " while --wait-sync waits" : ""));
    ASSERT_EQ(mkdir(chip.c_str(), 0700), 0);
    for (const char* name : {"export", "unexport"}) std::ofstream(chip + "/" + name);
    std::ofstream(chip + "/npwm") << "2\n";
    Child child;
    if (c.wait_sync) {
      ASSERT_TRUE(start_child(child, {kProgram, "--wait-sync", "--pwm=" + chip + ":0"},
                              {std::string("LD_PRELOAD=") + CLOCK_SYNC_SHIM,
                               "KOLVAN_TEST_SYNCED=/nonexistent", "ASAN_OPTIONS=verify_asan_link_order=0"}));
      EXPECT_TRUE(wait_for_error_output(child, "nothing is sent until then\n", 5000)) << child.err;
    } else {
      ASSERT_TRUE(start_child(child, {kProgram, "--pwm=" + chip + ":0"}));
      for (int i = 0; i < 2500 && file_text(chip + "/export").empty(); ++i) usleep(2000);
    }
    const std::string exported = c.wait_sync ? "" : "0\n";
    EXPECT_EQ(file_text(chip + "/export"), exported);
    kill(child.pid, s);
    EXPECT_EQ(finish_child(child, 5000), s == SIGINT ? 0 : -1);
    EXPECT_EQ(child.died_of, s == SIGINT ? 0 : s);
    EXPECT_EQ(child.out, "\nExit!\n");
    EXPECT_EQ(file_text(chip + "/unexport"), exported) << "the channel was left exported";
    for (const char* name : {"export", "unexport", "npwm"}) unlink((chip + "/" + name).c_str());
    rmdir(chip.c_str());
  }
}

// A pseudo-terminal behind a link, made by socat and gone with it; what it
// receives goes to `capture`.
bool start_device(Child& socat, const std::string& link, const std::string& capture) {
  if (!start_child(socat, {kSocat, "-u", "pty,link=" + link + ",raw,echo=0",
                           "OPEN:" + capture + ",creat,trunc"}))
    return false;
  for (int i = 0; i < 500 && access(link.c_str(), F_OK) != 0; ++i) usleep(10000);
  return access(link.c_str(), F_OK) == 0;
}

// The device kolvan keys, a pseudo-terminal behind a link (as a
// /dev/serial/by-id name stands for an adapter), goes away, and a new
// pseudo-terminal, likely with the same number, comes back under the name:
// it is someone else's, and kolvan neither opens nor writes to it. Each is
// said once on standard error, the console goes on, and Ctrl-C still ends
// it in order.
TEST(Program, RecycledPseudoTerminalIsNotOpenedAgain) {
  if (access(kSocat, X_OK) != 0) GTEST_SKIP() << kSocat << " is missing (Debian package socat)";
  const std::string link = testing::TempDir() + "kolvan-usb-" + std::to_string(getpid());
  const std::string capture = link + ".received";
  Child device;
  ASSERT_TRUE(start_device(device, link, "/dev/null"));
  Child kolvan;
  ASSERT_TRUE(start_child(kolvan, {kProgram, link}));
  ASSERT_TRUE(wait_for_output(kolvan, "==> ", 5000)) << kolvan.err;

  kill(device.pid, SIGTERM);
  finish_child(device, 5000);
  const std::string gone = "kolvan: " + link + ": " + std::strerror(EIO) + "\n";
  EXPECT_TRUE(wait_for_error_output(kolvan, gone, 3000)) << kolvan.err;
  Child again;
  ASSERT_TRUE(start_device(again, link, capture));
  const std::string refused = "kolvan: " + link +
                              ": a pseudo-terminal is not opened again (its number goes to the next "
                              "terminal opened); start kolvan again on the new one\n";
  EXPECT_TRUE(wait_for_error_output(kolvan, refused, 3000)) << kolvan.err;
  usleep(2500000);  // pulses it would have sent

  kill(kolvan.pid, SIGINT);
  EXPECT_EQ(finish_child(kolvan, 5000), 0);
  kill(again.pid, SIGTERM);
  finish_child(again, 5000);
  EXPECT_EQ(without_host_clock_lines(kolvan.err), gone + refused);
  struct stat received {};
  EXPECT_EQ(stat(capture.c_str(), &received), 0);
  EXPECT_EQ(received.st_size, 0) << "kolvan wrote to the new pseudo-terminal";
  unlink(capture.c_str());
  EXPECT_EQ(kolvan.out.substr(kolvan.out.size() - 7), "\nExit!\n");
}

}  // namespace
