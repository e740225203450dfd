// --pwm=GPIOn and CHIP:CHANNEL on fake sysfs trees laid out as the kernels
// show them (class/pwm/pwmchipN -> the device's pwm/pwmchipN, its device
// link, the device's of_node into firmware/devicetree/base), each board's
// nodes taken from the Raspberry Pi kernel's device trees: which chip and
// channel are keyed, the start-up line with the frequency the block
// makes, and the one line for a wrong pin, a missing overlay and a
// channel a kernel driver holds.
#include "carrier/pwm_board.h"

#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <stdarg.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "carrier/pwm_sysfs.h"

// The chip's export file that answers EBUSY, as the kernel's does for a
// channel a driver has requested; the link wraps open() for it.
const char* busy_export = nullptr;

// The open() of `real`, or EBUSY for the busy export file.
template <typename Open>
int open_unless_busy(Open real, const char* path, int flags, va_list rest) {
  const mode_t mode = (flags & O_CREAT) != 0 ? static_cast<mode_t>(va_arg(rest, int)) : 0;
  if (busy_export != nullptr && std::string(path) == busy_export) {
    errno = EBUSY;
    return -1;
  }
  return real(path, flags, mode);
}

extern "C" int __real_open(const char* path, int flags, ...);
extern "C" int __wrap_open(const char* path, int flags, ...) {
  va_list rest;
  va_start(rest, flags);
  const int fd = open_unless_busy(__real_open, path, flags, rest);
  va_end(rest);
  return fd;
}
#if __SIZEOF_POINTER__ == 4
extern "C" int __real_open64(const char* path, int flags, ...);
extern "C" int __wrap_open64(const char* path, int flags, ...) {
  va_list rest;
  va_start(rest, flags);
  const int fd = open_unless_busy(__real_open64, path, flags, rest);
  va_end(rest);
  return fd;
}
#endif

namespace {

std::string cells(std::initializer_list<std::uint32_t> values) {
  std::string bytes;
  for (std::uint32_t v : values) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes += static_cast<char>(v >> shift & 0xff);
  }
  return bytes;
}

std::string strings(std::initializer_list<const char*> values) {
  std::string bytes;
  for (const char* v : values) bytes += std::string(v) + '\0';
  return bytes;
}

// A device-tree node: its path under base and its properties.
struct Node {
  std::string path;
  std::map<std::string, std::string> properties;
};

// A PWM chip: its name, its device's directory under the root and that
// device's node. `exported` channels have their pwmN files already.
struct Chip {
  std::string name;
  std::string device;
  std::string node;
  int channels;
  std::vector<int> exported;
};

struct Board {
  std::string model;
  std::vector<Node> nodes;
  std::vector<Chip> chips;
};

void make_dirs(const std::string& path) {
  std::string sofar;
  for (std::size_t at = 1; at != std::string::npos;) {
    at = path.find('/', at + 1);
    sofar = path.substr(0, at);
    mkdir(sofar.c_str(), 0755);
  }
}

void write(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string ups(const std::string& path) {
  std::string text;
  for (char c : path) {
    if (c == '/') text += "../";
  }
  return text + "../";
}

int remove_entry(const char* path, const struct stat*, int, FTW*) { return remove(path); }

// The fake tree, removed at the end of the test.
struct TreeRoot {
  std::string path;
  ~TreeRoot() { nftw(path.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS); }
};

// Lays `board` out under a new directory; returns it.
std::string lay_out(const Board& board) {
  char name[] = "/tmp/kolvan-sysfs-XXXXXX";
  const std::string root = mkdtemp(name);
  const std::string base = root + "/firmware/devicetree/base";
  make_dirs(base);
  write(base + "/model", strings({board.model.c_str()}));
  for (const Node& node : board.nodes) {
    make_dirs(base + "/" + node.path);
    for (const auto& property : node.properties) {
      write(base + "/" + node.path + "/" + property.first, property.second);
    }
  }
  make_dirs(root + "/class/pwm");
  for (const Chip& chip : board.chips) {
    const std::string device = root + "/" + chip.device;
    const std::string dir = device + "/pwm/" + chip.name;
    make_dirs(dir);
    write(dir + "/npwm", std::to_string(chip.channels) + "\n");
    write(dir + "/export", "");
    write(dir + "/unexport", "");
    for (int channel : chip.exported) {
      const std::string files = dir + "/pwm" + std::to_string(channel);
      make_dirs(files);
      write(files + "/period", "0\n");
      write(files + "/duty_cycle", "0\n");
      write(files + "/enable", "0\n");
    }
    const std::size_t slash = chip.device.rfind('/');
    EXPECT_EQ(
        symlink(("../../../" + chip.device.substr(slash + 1)).c_str(), (dir + "/device").c_str()),
        0);
    EXPECT_EQ(symlink((ups(chip.device) + "firmware/devicetree/base/" + chip.node).c_str(),
                      (device + "/of_node").c_str()),
              0);
    EXPECT_EQ(symlink(("../../" + chip.device + "/pwm/" + chip.name).c_str(),
                      (root + "/class/pwm/" + chip.name).c_str()),
              0);
  }
  return root;
}

// bcm283x.dtsi (Raspberry Pi's tree, since its 50 MHz PWM clock):
// pwm@7e20c000, brcm,bcm2835-pwm; the pwm overlays add a pinctrl node
// under the gpio node with brcm,pins and point the PWM's pinctrl-0 at it.
Board bcm2835_board(const char* model, const char* device, std::string clock,
                    std::initializer_list<std::uint32_t> pins) {
  Board board;
  board.model = model;
  Node pwm{"soc/pwm@7e20c000",
           {{"compatible", strings({"brcm,bcm2835-pwm"})},
            {"#pwm-cells", cells({3})},
            {"phandle", cells({0x40})},
            {"status", strings({"okay"})}}};
  if (!clock.empty()) pwm.properties["assigned-clock-rates"] = clock;
  if (pins.size() > 0) pwm.properties["pinctrl-0"] = cells({0x50});
  board.nodes.push_back(pwm);
  board.nodes.push_back(
      {"soc/gpio@7e200000/pwm_pins", {{"brcm,pins", cells(pins)}, {"phandle", cells({0x50})}}});
  board.chips.push_back(
      {"pwmchip0", std::string("devices/platform/soc/") + device, "soc/pwm@7e20c000", 2, {0, 1}});
  return board;
}

// The Pi 3 and Pi 4 on Raspberry Pi OS's 6.6 kernel: the PWM at
// 0x3f20c000 or 0xfe20c000 to the CPU (bcm2710's and bcm2711's soc ranges).
Board pi3(std::initializer_list<std::uint32_t> pins) {
  return bcm2835_board("Raspberry Pi 3 Model B Rev 1.2", "3f20c000.pwm", cells({50000000}), pins);
}
Board pi4(std::initializer_list<std::uint32_t> pins) {
  return bcm2835_board("Raspberry Pi 4 Model B Rev 1.4", "fe20c000.pwm", cells({50000000}), pins);
}

// The Pi 5 (bcm2712-rpi-5-b.dts, rp1.dtsi): the BCM2712's own
// pwm@7d517a80 (brcm,bcm7038-pwm, no assigned clock), the RP1's
// pwm@98000 (the header's, `pwm` in the overlays) and pwm@9c000, whose
// channel 3 the cooling_fan node's `pwms` takes; both RP1 blocks at
// 50 MHz. On the 6.6 kernel chips are numbered by their first PWM line
// (pwmchip0, 2, 6); from 6.8 in order of registration, the RP1's first
// on Raspberry Pi OS's 6.12.
Board pi5(bool kernel_6_6, bool overlay, bool fan) {
  const std::string rp1 = "axi/pcie@120000/rp1";
  const std::string devices = "devices/platform/axi/1000120000.pcie/0000:01:00.0/";
  Board board;
  board.model = "Raspberry Pi 5 Model B Rev 1.0";
  board.nodes.push_back(
      {"soc@107c000000/pwm@7d517a80",
       {{"compatible", strings({"brcm,bcm7038-pwm"})}, {"#pwm-cells", cells({3})}}});
  board.nodes.push_back({rp1 + "/pwm@98000",
                         {{"compatible", strings({"raspberrypi,rp1-pwm"})},
                          {"assigned-clock-rates", cells({50000000})},
                          {"#pwm-cells", cells({3})},
                          {"pinctrl-0", cells({0x50})},
                          {"status", strings({overlay ? "okay" : "disabled"})}}});
  board.nodes.push_back(
      {rp1 + "/gpio@d0000/pwm_pins", {{"brcm,pins", cells({18})}, {"phandle", cells({0x50})}}});
  board.nodes.push_back({rp1 + "/pwm@9c000",
                         {{"compatible", strings({"raspberrypi,rp1-pwm"})},
                          {"assigned-clock-rates", cells({50000000})},
                          {"#pwm-cells", cells({3})},
                          {"phandle", cells({0x60})},
                          {"status", strings({fan ? "okay" : "disabled"})}}});
  board.nodes.push_back({"cooling_fan",
                         {{"compatible", strings({"pwm-fan"})},
                          {"pwms", cells({0x60, 3, 41566, 1})},
                          {"status", strings({fan ? "okay" : "disabled"})}}});
  const Chip own{
      "", "devices/platform/soc@107c000000/107d517a80.pwm", "soc@107c000000/pwm@7d517a80", 2, {}};
  const Chip header{"", devices + "1f00098000.pwm", rp1 + "/pwm@98000", 4, {0, 1, 2, 3}};
  const Chip fan_chip{"", devices + "1f0009c000.pwm", rp1 + "/pwm@9c000", 4, {}};
  const char* names[3] = {"pwmchip0", "pwmchip2", "pwmchip6"};
  if (!kernel_6_6) names[0] = "pwmchip2", names[1] = "pwmchip0", names[2] = "pwmchip1";
  board.chips.push_back(own);
  board.chips.back().name = names[0];
  if (overlay) {
    board.chips.push_back(header);
    board.chips.back().name = names[1];
  }
  if (fan) {
    board.chips.push_back(fan_chip);
    board.chips.back().name = names[2];
  }
  return board;
}

// A Pi 4 whose overlays give the PWM's channel 0 to a fan driver (a
// pwm-fan node whose `pwms` is <&pwm 0 ...>) as well as to GPIO18.
Board pi4_fan_on_channel_0() {
  Board board = pi4({18});
  board.nodes.push_back({"pwm-fan",
                         {{"compatible", strings({"pwm-fan"})},
                          {"pwms", cells({0x40, 0, 40000, 0})},
                          {"status", strings({"okay"})}}});
  return board;
}

// A Pi 5 whose RP1 PWM1 is on but whose fan node is off (no fan): its
// `pwms` holds nothing.
Board pi5_without_fan() {
  Board board = pi5(true, true, true);
  for (Node& node : board.nodes) {
    if (node.path == "cooling_fan") node.properties["status"] = strings({"disabled"});
  }
  for (Chip& chip : board.chips) {
    if (chip.name == "pwmchip6") chip.exported = {3};
  }
  return board;
}

struct Case {
  const char* what;
  Board board;
  const char* argument;
  const char* station;
  const char* keyed;  // the channel's directory under class/pwm, or null: refused
  const char* line;   // the start-up line, or the reason refused
};

TEST(PwmBoard, EachBoardAndKernelKeysTheWiredPinAndSaysWhatItMakes) {
  const std::vector<Case> kCases = {
      {"Pi 3, dtoverlay=pwm", pi3({18}), "GPIO18", "wwvb", "pwmchip0/pwm0",
       "pwm: GPIO18 is pwmchip0:0 (Raspberry Pi 3 Model B), 60024 Hz from a 50 MHz clock "
       "(period 16660 ns), reduced level 14.1 % (duty 4.5 %)"},
      {"Pi 4, pwm-2chan", pi4({18, 19}), "gpio19", "dcf77", "pwmchip0/pwm1",
       "pwm: GPIO19 is pwmchip0:1 (Raspberry Pi 4 Model B), 77519 Hz from a 50 MHz clock "
       "(period 12900 ns), reduced level 15 % (duty 4.8 %)"},
      {"Pi 4, BPC", pi4({18}), "GPIO18", "bpc", "pwmchip0/pwm0", nullptr},
      {"Pi 4 named by chip", pi4({18}), "pwmchip0:0", "jjy40", "pwmchip0/pwm0",
       "pwm: pwmchip0:0 (Raspberry Pi 4 Model B), 40000 Hz from a 50 MHz clock "
       "(period 25000 ns), reduced level 10 % (duty 3.2 %)"},
      {"Pi 4 whose tree gives no clock",
       bcm2835_board("Raspberry Pi 4 Model B Rev 1.1", "fe20c000.pwm", "", {18}), "GPIO18", "jjy60",
       "pwmchip0/pwm0",
       "pwm: GPIO18 is pwmchip0:0 (Raspberry Pi 4 Model B), 60000 Hz asked (period 16667 ns; "
       "the device tree gives no clock for this block, so what it makes is unknown), reduced "
       "level 10 % (duty 3.2 %)"},
      {"Pi 5, 6.6", pi5(true, true, false), "GPIO18", "wwvb", "pwmchip2/pwm2",
       "pwm: GPIO18 is pwmchip2:2 (Raspberry Pi 5 Model B), 59952 Hz from a 50 MHz clock "
       "(period 16680 ns, as the RP1's driver sets it: not measured), reduced level 14.1 % "
       "(duty 4.5 %)"},
      {"Pi 5, 6.12", pi5(false, true, true), "GPIO18", "dcf77", "pwmchip0/pwm2",
       "pwm: GPIO18 is pwmchip0:2 (Raspberry Pi 5 Model B), 77399 Hz from a 50 MHz clock "
       "(period 12920 ns, as the RP1's driver sets it: not measured), reduced level 15 % "
       "(duty 4.8 %)"},
      {"Pi 3, wrong pin", pi3({18}), "GPIO12", "jjy40", nullptr,
       "the device tree gives pwmchip0's PWM GPIO18, not GPIO12: wire GPIO18, or make the line "
       "in config.txt dtoverlay=pwm,pin=12,func=4 and reboot"},
      {"Pi 4, the pin of the other channel", pi4({18}), "GPIO13", "jjy40", nullptr,
       "the device tree gives pwmchip0's PWM GPIO18, not GPIO13: wire GPIO18, or make the line "
       "in config.txt dtoverlay=pwm,pin=13,func=4 and reboot"},
      {"Pi 5, no overlay", pi5(true, false, true), "GPIO18", "jjy40", nullptr,
       "no PWM drives GPIO18 on this Raspberry Pi 5 Model B: add the line dtoverlay=pwm to "
       "/boot/firmware/config.txt and reboot"},
      {"Pi 4, a fan's channel", pi4_fan_on_channel_0(), "GPIO18", "jjy40", nullptr,
       "pwmchip0:0 (GPIO18) is held by the kernel (pwm-fan): choose another pin (kolvan "
       "--pwm=list)"},
      {"Pi 5, 6.6, no fan", pi5_without_fan(), "pwmchip6:3", "jjy40", "pwmchip6/pwm3", nullptr},
      {"Pi 5, 6.6, the fan's channel", pi5(true, true, true), "pwmchip6:3", "jjy40", nullptr,
       "pwmchip6:3 is held by the kernel (cooling_fan): choose another channel (kolvan "
       "--pwm=list)"},
  };
  for (const Case& c : kCases) {
    const TreeRoot tree{lay_out(c.board)};
    const std::string& root = tree.path;
    setenv("KOLVAN_SYSFS_ROOT", root.c_str(), 1);
    const Station& station = *find_station(c.station);
    const PwmCarrier carrier = pwm_carrier(station);
    PwmSysfs sysfs;
    std::string reason;
    const bool selected = pwm_sysfs_select(sysfs, c.argument, reason);
    if (c.keyed == nullptr) {
      EXPECT_FALSE(selected) << c.what;
      EXPECT_EQ(reason, c.line) << c.what;
    } else {
      ASSERT_TRUE(selected) << c.what << ": " << reason;
      ASSERT_TRUE(pwm_sysfs_set_up(sysfs, carrier, 0, false, reason)) << c.what << ": " << reason;
      EXPECT_TRUE(pwm_sysfs_enable(sysfs)) << c.what;
      pwm_sysfs_release(sysfs);
      const std::string dir = root + "/class/pwm/" + c.keyed;
      EXPECT_EQ(read(dir + "/period"), std::to_string(carrier.period_ns) + "\n") << c.what;
      // Set up disabled, then enabled once there is something to key.
      EXPECT_EQ(read(dir + "/enable"), "0\n1\n") << c.what;
      if (c.line != nullptr) {
        EXPECT_EQ(pwm_sysfs_describe(sysfs, station, carrier), c.line) << c.what;
      }
    }
    unsetenv("KOLVAN_SYSFS_ROOT");
  }
}

// A channel a kernel driver requested that the device tree doesn't show
// (its export answers EBUSY and no pwmN appears) is said to be the
// kernel's, not taken for one another program exported.
TEST(PwmBoard, AnExportRefusedAsBusyIsTheKernels) {
  const TreeRoot tree{lay_out(pi3({18}))};
  const std::string chip = tree.path + "/class/pwm/pwmchip0";
  for (const char* name : {"period", "duty_cycle", "enable"}) {
    ASSERT_EQ(unlink((chip + "/pwm1/" + name).c_str()), 0);
  }
  ASSERT_EQ(rmdir((chip + "/pwm1").c_str()), 0);
  setenv("KOLVAN_SYSFS_ROOT", tree.path.c_str(), 1);
  const std::string busy = chip + "/export";
  busy_export = busy.c_str();
  PwmSysfs sysfs;
  std::string reason;
  ASSERT_TRUE(pwm_sysfs_select(sysfs, "pwmchip0:1", reason)) << reason;
  EXPECT_FALSE(pwm_sysfs_set_up(sysfs, pwm_carrier(*find_station("jjy40")), 0, false, reason));
  EXPECT_EQ(reason,
            "pwmchip0:1 is held by the kernel (fan? backlight?): choose another channel (kolvan "
            "--pwm=list)");
  busy_export = nullptr;
  unsetenv("KOLVAN_SYSFS_ROOT");
}

TEST(PwmBoard, TheListNamesEachBlockItsPinsAndWhatHoldsThem) {
  const TreeRoot pi5_root{lay_out(pi5(true, true, true))};
  EXPECT_EQ(describe_pwm_board(read_pwm_board(pi5_root.path)),
            "Raspberry Pi 5 Model B\n"
            "pwmchip0: 107d517a80.pwm (brcm,bcm7038-pwm), 2 channels: the BCM2712's own PWM, on "
            "no header pin\n"
            "pwmchip2: 1f00098000.pwm (raspberrypi,rp1-pwm), 4 channels, a 50 MHz clock\n"
            "  channel 0: GPIO12\n"
            "  channel 1: GPIO13\n"
            "  channel 2: GPIO18; the device tree gives it GPIO18\n"
            "  channel 3: GPIO19\n"
            "pwmchip6: 1f0009c000.pwm (raspberrypi,rp1-pwm), 4 channels, a 50 MHz clock: the "
            "fan's PWM (GPIO45), on no header pin\n"
            "  channel 3: held by the kernel (cooling_fan)\n");
  const TreeRoot pi4_root{lay_out(pi4({18, 19}))};
  EXPECT_EQ(describe_pwm_board(read_pwm_board(pi4_root.path)),
            "Raspberry Pi 4 Model B\n"
            "pwmchip0: fe20c000.pwm (brcm,bcm2835-pwm), 2 channels, a 50 MHz clock\n"
            "  channel 0: GPIO12 or GPIO18; the device tree gives it GPIO18\n"
            "  channel 1: GPIO13 or GPIO19; the device tree gives it GPIO19\n");
}

}  // namespace
