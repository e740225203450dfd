// The POSIX carrier port, driven on a pseudo-terminal: the test holds the
// master side and sees on it what the port's transmit line would carry.
#include "carrier/carrier.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstring>
#include <string>

#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

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
    char name[256] = {};
    ASSERT_EQ(openpty(&master_, &slave_, name, nullptr, nullptr), 0);
    path_ = name;
  }

  void TearDown() override {
    close_carrier_port();
    if (master_ >= 0) close(master_);
    close(slave_);
  }

  // Everything the master receives within `timeout_ms`, up to `limit` bytes.
  std::string received(size_t limit, int timeout_ms) {
    std::string bytes;
    pollfd ready{master_, POLLIN, 0};
    char chunk[1024];
    while (bytes.size() < limit && poll(&ready, 1, timeout_ms) > 0) {
      const ssize_t n = read(master_, chunk, std::min(sizeof chunk, limit - bytes.size()));
      if (n <= 0) break;
      bytes.append(chunk, static_cast<size_t>(n));
    }
    return bytes;
  }

  // The device's exclusive mode: 1 on, 0 off, -1 unreadable.
  int exclusive() {
    int on = 0;
    if (ioctl(slave_, TIOCGEXCL, &on) != 0) return -1;
    return on != 0 ? 1 : 0;
  }

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
    send_pulse(count);
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
  for (int i = 0; i < 200; ++i) send_pulse(kZeroPulseChars);  // far past the pty's buffer
  const auto spent = std::chrono::steady_clock::now() - start;
  alarm(0);
  signal(SIGALRM, SIG_DFL);
  if (watched_master < 0) master_ = -1;
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // a full queue is no fault
  EXPECT_LT(spent, std::chrono::seconds(2));
}

TEST_F(CarrierOnPty, HeldDeviceRefusesASecondOpenUntilClosed) {
  ASSERT_TRUE(open_carrier_device(path_.c_str(), 9600));
  EXPECT_EQ(exclusive(), 1);
  EXPECT_FALSE(open_carrier_device(path_.c_str(), 9600));
  send_pulse(kMarkerPulseChars);  // the refused attempt left the port alone
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
  send_pulse(kZeroPulseChars);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(received(4096, 100), "");
  EXPECT_TRUE(open_carrier_device(path_.c_str(), 9600));
}

// What is still queued is thrown away, so the close never waits for it. A
// pty queues some 16 KiB or more when nobody reads; only the reading side's
// own 4 KiB line buffer is out of the port's reach.
TEST_F(CarrierOnPty, ClosingDiscardsWhatIsStillQueued) {
  ASSERT_TRUE(open_carrier_device(path_.c_str(), 9600));
  for (int i = 0; i < 200; ++i) send_pulse(kZeroPulseChars);
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
  close(master_);
  master_ = -1;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  for (int i = 0; i < 5; ++i) send_pulse(kOnePulseChars);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(err, "kolvan: " + path_ + ": " + std::strerror(EIO) + "\n");
}

TEST_F(CarrierOnPty, EachOpeningReportsItsOwnVanishing) {
  ASSERT_TRUE(open_carrier_device(path_.c_str(), 9600));
  close(master_);
  master_ = -1;
  testing::internal::CaptureStderr();
  send_pulse(kOnePulseChars);
  close_carrier_port();

  int other_master = -1, other_slave = -1;
  char other[256] = {};
  ASSERT_EQ(openpty(&other_master, &other_slave, other, nullptr, nullptr), 0);
  ASSERT_TRUE(open_carrier_device(other, 9600));
  close(other_master);
  send_pulse(kOnePulseChars);
  send_pulse(kOnePulseChars);
  const std::string tail = std::string(": ") + std::strerror(EIO) + "\n";
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "kolvan: " + path_ + tail + "kolvan: " + other + tail);
  close_carrier_port();
  close(other_slave);
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
