// The POSIX carrier port, driven on a pseudo-terminal: the test holds the
// master side and sees on it what the port's transmit line would carry.
#include "carrier/serial_port.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "test_support.h"

namespace {

// JJY's runs: 0.8 s, 0.5 s and 0.2 s of zero bytes.
constexpr int kZeroPulseChars = 768;
constexpr int kOnePulseChars = 480;
constexpr int kMarkerPulseChars = 192;

// One keyed run of `count` characters.
void send_run(int count) { send_pulse(PulseShape{count, 0, 0}); }

// The port's requests to its device, seen through the linker's wrapper.
std::vector<std::pair<unsigned long, int>> modem_requests;  // request, lines

}  // namespace

namespace {
void note_modem_request(unsigned long request, const void* argument) {
  if (request == TIOCMBIC || request == TIOCMBIS || request == TIOCMSET)
    modem_requests.emplace_back(request, *static_cast<const int*>(argument));
}
}  // namespace

extern "C" int __real_ioctl(int fd, unsigned long request, ...);
extern "C" int __wrap_ioctl(int fd, unsigned long request, ...) {
  va_list args;
  va_start(args, request);
  void* argument = va_arg(args, void*);
  va_end(args);
  note_modem_request(request, argument);
  return __real_ioctl(fd, request, argument);
}

// With a 64-bit time_t on a 32-bit system (armhf), the C library's header
// sends every ioctl call to __ioctl_time64 instead: it is seen the same way.
#ifdef __USE_TIME_BITS64
extern "C" int __real___ioctl_time64(int fd, unsigned long request, ...);
extern "C" int __wrap___ioctl_time64(int fd, unsigned long request, ...) {
  va_list args;
  va_start(args, request);
  void* argument = va_arg(args, void*);
  va_end(args);
  note_modem_request(request, argument);
  return __real___ioctl_time64(fd, request, argument);
}
#endif

namespace {

// A send that blocks on a full queue would hang its test; the watchdog
// hangs up the master instead, which ends the write with an error.
volatile sig_atomic_t watched_master = -1;
extern "C" void hang_up_watched_master(int) {
  close(watched_master);
  watched_master = -1;
}

class CarrierOnPty : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(pty_.path.empty());
    slave_ = open(pty_.path.c_str(), O_RDWR | O_NOCTTY);  // to look at the device
    ASSERT_GE(slave_, 0);
    path_ = pty_.path;
    master_ = pty_.master;
  }

  void TearDown() override {
    close_carrier_port();
    close(slave_);
  }

  // Hangs up the master, as pulling out a USB adapter does to its port.
  void hang_up() {
    close(pty_.master);
    pty_.master = master_ = -1;
  }

  std::string received(size_t limit, int timeout_ms) { return pty_.received(limit, timeout_ms); }

  // The device's exclusive mode: 1 on, 0 off, -1 unreadable.
  int exclusive() {
    int on = 0;
    if (ioctl(slave_, TIOCGEXCL, &on) != 0) return -1;
    return on != 0 ? 1 : 0;
  }

  Pty pty_;
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
};

TEST_F(CarrierOnPty, LineIsRaw9600EightNoneOneWithoutFlowControl) {
  termios tio{};
  ASSERT_EQ(tcgetattr(slave_, &tio), 0);  // start from everything the port must undo
  tio.c_cflag |= PARENB | CSTOPB | CRTSCTS | HUPCL;
  tio.c_iflag |= IXON | IXOFF | IXANY;
  tio.c_lflag |= ICANON | ECHO | ISIG;
  tio.c_oflag |= OPOST;
  ASSERT_EQ(cfsetspeed(&tio, B1200), 0);
  ASSERT_EQ(tcsetattr(slave_, TCSANOW, &tio), 0);
  ASSERT_TRUE(open_carrier_device(path_.c_str(), 9600));
  ASSERT_EQ(tcgetattr(slave_, &tio), 0);
  EXPECT_EQ(cfgetispeed(&tio), B9600);
  EXPECT_EQ(cfgetospeed(&tio), B9600);
  EXPECT_EQ(tio.c_cflag & CSIZE, tcflag_t{CS8});
  EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS | HUPCL), 0u);
  EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), tcflag_t{CLOCAL | CREAD});
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | IXANY), 0u);
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(tio.c_oflag & OPOST, 0u);
}

TEST_F(CarrierOnPty, EachPulseArrivesAsExactlyThatManyZeroBytes) {
  ASSERT_TRUE(open_carrier_device(path_.c_str(), 9600));
  for (int count : {kZeroPulseChars, kOnePulseChars, kMarkerPulseChars}) {
    send_run(count);
    const std::string bytes = received(4096, 200);
    EXPECT_EQ(bytes, std::string(static_cast<size_t>(count), '\0')) << count;
  }
}

TEST_F(CarrierOnPty, SendReturnsAtOnceAndSilentlyWhenNobodyReads) {
  ASSERT_TRUE(open_carrier_device(path_.c_str(), 9600));
  testing::internal::CaptureStderr();
  watched_master = master_;
  signal(SIGALRM, hang_up_watched_master);  // frees a send that blocks
  alarm(3);
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 200; ++i) send_run(kZeroPulseChars);  // far past the pty's buffer
  const auto spent = std::chrono::steady_clock::now() - start;
  alarm(0);
  signal(SIGALRM, SIG_DFL);
  if (watched_master < 0) pty_.master = master_ = -1;
  EXPECT_LT(spent, std::chrono::seconds(2));
  // Dropped pulses are said once for each run of them, not at every pulse
  // (the reader side takes some bytes off the queue on its own, which may
  // end a run).
  const std::string line = "kolvan: " + path_ + ": the port's queue is full; pulses are dropped until it drains\n";
  const std::string err = testing::internal::GetCapturedStderr();
  ASSERT_GE(err.size(), line.size());
  EXPECT_EQ(err.substr(0, line.size()), line);
  EXPECT_LE(err.size(), 3 * line.size()) << err;
}

// The pty takes the first pulse that no longer fits only in part; the rest
// follows as soon as the reader makes room, so every pulse arrives whole:
// the bytes add up to whole pulses and nothing is said.
TEST_F(CarrierOnPty, PulseTakenInPartIsCompletedNotCutShort) {
  ASSERT_TRUE(open_carrier_device(path_.c_str(), 9600));
  constexpr int kChars = 900;  // no multiple of it fills the pty exactly
  testing::internal::CaptureStderr();
  std::string bytes;
  std::thread reader([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    bytes = received(1 << 20, 300);
  });
  for (int i = 0; i < 40; ++i) send_run(kChars);
  reader.join();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_GT(bytes.size(), 20u * kChars);
  EXPECT_EQ(bytes.size() % kChars, 0u) << bytes.size() << " bytes: a pulse was cut short";
}

// Both modem lines are dropped when the port opens (a pseudo-terminal
// refuses the request, which is no reason to refuse the device).
TEST_F(CarrierOnPty, OpeningDropsDtrAndRts) {
  modem_requests.clear();
  ASSERT_TRUE(open_carrier_device(path_.c_str(), 9600));
  ASSERT_EQ(modem_requests.size(), 1u);
  EXPECT_EQ(modem_requests[0].first, static_cast<unsigned long>(TIOCMBIC));
  EXPECT_EQ(modem_requests[0].second, TIOCM_DTR | TIOCM_RTS);
}

TEST_F(CarrierOnPty, HeldDeviceRefusesASecondOpenUntilClosed) {
  ASSERT_TRUE(open_carrier_device(path_.c_str(), 9600));
  EXPECT_EQ(exclusive(), 1);
  EXPECT_FALSE(open_carrier_device(path_.c_str(), 9600));
  send_run(kMarkerPulseChars);  // the refused attempt left the port alone
  EXPECT_EQ(received(4096, 200).size(), size_t{kMarkerPulseChars});
  close_carrier_port();
  EXPECT_EQ(exclusive(), 0);
  EXPECT_TRUE(open_carrier_device(path_.c_str(), 9600));
}

TEST_F(CarrierOnPty, CloseTwiceIsHarmlessAndClosedPortSendsNothing) {
  ASSERT_TRUE(open_carrier_device(path_.c_str(), 9600));
  close_carrier_port();
  close_carrier_port();
  testing::internal::CaptureStderr();
  send_run(kZeroPulseChars);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(received(4096, 100), "");
  EXPECT_TRUE(open_carrier_device(path_.c_str(), 9600));
}

// What is still queued is thrown away, so the close never waits for it. A
// pty queues some 16 KiB or more when nobody reads; only the reading side's
// own 4 KiB line buffer is out of the port's reach.
TEST_F(CarrierOnPty, ClosingDiscardsWhatIsStillQueued) {
  ASSERT_TRUE(open_carrier_device(path_.c_str(), 9600));
  for (int i = 0; i < 200; ++i) send_run(kZeroPulseChars);
  close_carrier_port();
  EXPECT_LT(received(1 << 20, 100).size(), size_t{8192});
}

TEST_F(CarrierOnPty, RefusedSettingsLeaveTheDeviceFree) {
  EXPECT_FALSE(open_carrier_device(path_.c_str(), 12345));
  EXPECT_EQ(exclusive(), 0);
  EXPECT_TRUE(open_carrier_device(path_.c_str(), 9600));
}

// Hanging up the master makes the slave's writes fail with EIO, as a serial
// adapter does when it is pulled out.
TEST_F(CarrierOnPty, VanishedDeviceIsReportedOnceOnStderrOnly) {
  ASSERT_TRUE(open_carrier_device(path_.c_str(), 9600));
  hang_up();
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  for (int i = 0; i < 5; ++i) send_run(kOnePulseChars);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(err, "kolvan: " + path_ + ": " + std::strerror(EIO) + "\n");
}

// Why an open failed, with what to do where that helps (a missing device
// and a held one: program_test).
TEST_F(CarrierOnPty, FailedOpenSaysWhy) {
  EXPECT_FALSE(open_carrier_device("/dev/null", 9600));
  EXPECT_EQ(carrier_open_error(), "/dev/null: " + std::string(std::strerror(ENOTTY)) +
                                      "; it is not a serial port");

  // A user outside the device's group (the tests may run as root, so a
  // child that gives up its rights tries it).
  const group* dialout = getgrnam("dialout");
  if (dialout == nullptr) GTEST_SKIP() << "no dialout group here";
  ASSERT_EQ(chown(path_.c_str(), 0, dialout->gr_gid), 0);
  ASSERT_EQ(chmod(path_.c_str(), 0660), 0);
  int reason[2];
  ASSERT_EQ(pipe(reason), 0);
  const pid_t child = fork();
  if (child == 0) {
    close(reason[0]);
    if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
    open_carrier_device(path_.c_str(), 9600);
    const std::string text = carrier_open_error();
    _exit(write(reason[1], text.data(), text.size()) == static_cast<ssize_t>(text.size()) ? 0 : 1);
  }
  close(reason[1]);
  char text[512] = {};
  const ssize_t n = read(reason[0], text, sizeof text - 1);
  close(reason[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 2) GTEST_SKIP() << "can't give up root here";
  EXPECT_EQ(std::string(text, n > 0 ? static_cast<size_t>(n) : 0u),
            path_ + ": " + std::strerror(EACCES) + "; add your user to the dialout group");
}

TEST(CarrierRefuses, PortNumbersWithoutADeviceAndNonTerminals) {
  EXPECT_FALSE(open_carrier_port(0, 9600));
  EXPECT_FALSE(open_carrier_port(-1, 9600));
  EXPECT_FALSE(open_carrier_device("/dev/null", 9600));
  EXPECT_FALSE(open_carrier_device("/nonexistent/kolvan-port", 9600));
  EXPECT_FALSE(open_carrier_device(nullptr, 9600));
}

TEST(CarrierDeviceArgument, APathNamesADeviceANumberDoesNot) {
  EXPECT_TRUE(names_carrier_device("/dev/ttyUSB0"));
  EXPECT_TRUE(names_carrier_device("./port"));
  EXPECT_FALSE(names_carrier_device("3"));
  EXPECT_FALSE(names_carrier_device("COM3"));
  EXPECT_FALSE(names_carrier_device(""));
}

}  // namespace
