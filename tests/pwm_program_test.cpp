// kolvan --pwm on a fake sysfs tree of plain files, a few seconds each: the
// channel set up disabled and enabled once keyed, given back at the end only
// when kolvan exported it, nothing touched while --wait-sync waits, and --carrier through a write the driver refuses
// and a channel that vanishes and comes back. duty_cycle is a FIFO where
// the test must see each write, or make one fail (no reader: EPIPE); the
// duties are JJY's at 40 kHz: 797 ns at rest, 12500 ns the full carrier.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"

namespace {

const std::string kKolvan = KOLVAN_BINARY;

std::string text_of(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void put(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

// Waits up to `ms` for `path` to hold `text`.
bool holds(const std::string& path, const std::string& text, int ms) {
  for (int waited = 0; waited < ms; waited += 20) {
    if (text_of(path) == text) return true;
    usleep(20000);
  }
  return text_of(path) == text;
}

struct FakeChip {
  std::string root, chip, channel;
  int duty_reader = -1;  // when duty_cycle is a FIFO

  FakeChip() {
    char pattern[] = "/tmp/kolvan-pwm-XXXXXX";
    root = mkdtemp(pattern) != nullptr ? pattern : "/nonexistent";
    chip = root + "/pwmchip0";
    channel = chip + "/pwm0";
    mkdir(chip.c_str(), 0755);
    put(chip + "/export", "");
    put(chip + "/unexport", "");
  }
  ~FakeChip() {
    if (duty_reader >= 0) close(duty_reader);
    std::system(("rm -rf " + root).c_str());
  }
  // What the kernel makes on export; period last, as kolvan waits for it.
  void export_channel(bool duty_fifo) {
    mkdir(channel.c_str(), 0755);
    if (duty_fifo) {
      mkfifo((channel + "/duty_cycle").c_str(), 0600);
      duty_reader = open((channel + "/duty_cycle").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    } else {
      put(channel + "/duty_cycle", "0\n");
    }
    put(channel + "/enable", "");
    put(channel + "/period", "0\n");
  }
  void take_channel_away() {
    close(duty_reader);
    duty_reader = -1;
    std::system(("rm -rf " + channel).c_str());
  }
  // The duty writes that came, up to `count` of them within `ms`.
  std::vector<std::string> duties(std::size_t count, int ms) {
    std::vector<std::string> lines;
    std::string text;
    for (int waited = 0; lines.size() < count && waited < ms; waited += 20) {
      char buffer[64];
      const ssize_t n = read(duty_reader, buffer, sizeof buffer);
      if (n > 0) text.append(buffer, static_cast<std::size_t>(n));
      for (std::size_t eol; (eol = text.find('\n')) != std::string::npos; text.erase(0, eol + 1))
        lines.push_back(text.substr(0, eol));
      if (n <= 0) usleep(20000);
    }
    return lines;
  }
};

// A channel someone else exported is never unexported by kolvan; one it
// exported itself is, at Ctrl-C, after the carrier is disabled.
TEST(PwmProgram, CtrlCUnexportsOnlyAChannelKolvanExported) {
  for (const bool exported_before : {true, false}) {
    SCOPED_TRACE(exported_before ? "exported before" : "exported by kolvan");
    FakeChip fake;
    if (exported_before) fake.export_channel(false);
    Child kolvan;
    ASSERT_TRUE(start_child(kolvan, {kKolvan, "--station=jjy40", "--pwm=" + fake.chip + ":0"}));
    if (!exported_before) {
      EXPECT_TRUE(holds(fake.chip + "/export", "0\n", 6000));
      fake.export_channel(false);
    }
    EXPECT_TRUE(wait_for_output(kolvan, "Setting:", 8000)) << kolvan.err;
    EXPECT_TRUE(holds(fake.channel + "/enable", "0\n1\n", 6000));
    kill(kolvan.pid, SIGINT);
    EXPECT_EQ(finish_child(kolvan, 5000), 0);
    EXPECT_EQ(text_of(fake.channel + "/enable"), "0\n1\n0\n");
    EXPECT_EQ(text_of(fake.chip + "/unexport"), exported_before ? "" : "0\n");
  }
}

// Until the host clock is synchronised the channel is left as it was, not
// even set up; then it is set up disabled, and enabled once keyed.
TEST(PwmProgram, NothingIsKeyedWhileWaitSyncWaits) {
  FakeChip fake;
  fake.export_channel(false);
  const std::string synced = fake.root + "/synced";
  Child kolvan;
  ASSERT_TRUE(start_child(kolvan, {kKolvan, "--station=jjy40", "--wait-sync", "--pwm=" + fake.chip + ":0"},
                          {std::string("LD_PRELOAD=") + CLOCK_SYNC_SHIM, "KOLVAN_TEST_SYNCED=" + synced,
                           "ASAN_OPTIONS=verify_asan_link_order=0"}));
  ASSERT_TRUE(wait_for_error_output(kolvan, "nothing is sent until then\n", 8000)) << kolvan.err;
  usleep(1500000);
  EXPECT_EQ(text_of(fake.channel + "/enable"), "");
  EXPECT_EQ(text_of(fake.channel + "/duty_cycle"), "0\n");
  put(synced, "");
  EXPECT_TRUE(holds(fake.channel + "/enable", "0\n1\n", 6000));
  kill(kolvan.pid, SIGINT);
  EXPECT_EQ(finish_child(kolvan, 5000), 0);
}

// --carrier holds the full carrier, says once that the driver refused a
// write, says the channel is gone when it vanishes, and once it is back
// holds the full carrier again (not the rest duty the set-up writes).
TEST(PwmProgram, CarrierOutlivesARefusedWriteAndAChannelThatVanishes) {
  FakeChip fake;
  fake.export_channel(true);
  const std::string shown = fake.chip + ":0";
  Child kolvan;
  ASSERT_TRUE(start_child(kolvan, {kKolvan, "--station=jjy40", "--carrier", "--pwm=" + shown}));
  EXPECT_EQ(fake.duties(2, 6000), (std::vector<std::string>{"797", "12500"}));

  close(fake.duty_reader);  // every write now fails with EPIPE
  fake.duty_reader = -1;
  EXPECT_TRUE(wait_for_error_output(
      kolvan, "kolvan: PWM " + shown + ": duty_cycle refused a write: Broken pipe\n", 6000))
      << kolvan.err;

  fake.take_channel_away();
  EXPECT_TRUE(wait_for_error_output(kolvan, "kolvan: PWM " + shown + ": the channel is gone (", 6000))
      << kolvan.err;
  fake.export_channel(true);
  EXPECT_TRUE(wait_for_error_output(kolvan, "kolvan: PWM " + shown + ": open again\n", 6000))
      << kolvan.err;
  EXPECT_EQ(fake.duties(2, 6000), (std::vector<std::string>{"797", "12500"}));

  kill(kolvan.pid, SIGINT);
  EXPECT_EQ(finish_child(kolvan, 5000), 0);
  EXPECT_EQ(kolvan.err.find("refused", kolvan.err.find("refused") + 1), std::string::npos)
      << "said once: " << kolvan.err;
}

}  // namespace
