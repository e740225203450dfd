// The board behind a PWM channel: which PWM block a chip is, told by its
// device-tree node (as the kernel shows it under
// /sys/firmware/devicetree/base), which header pins each of its channels
// can be on, and the frequency its clock makes of a period. The pure part
// is pwm_board.cpp; reading the tree under sysfs is pwm_board_posix.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "carrier/pwm.h"
#include "stations/station.h"

// The blocks kolvan knows, from the kernel's device trees: the BCM2835's
// PWM (brcm,bcm2835-pwm at bus address 0x7e20c000, the Pi 0-4; the Pi 4's
// second one at 0x7e20c800 drives only the jack), the RP1's two
// (raspberrypi,rp1-pwm at RP1 offsets 0x98000 and 0x9c000, the Pi 5: PWM0
// is the header's, PWM1 the fan's), and the BCM2712's own (brcm,bcm7038-pwm,
// which drives no header pin).
enum class PwmBlockKind { kUnknown, kBcm2835, kBcm2711Audio, kRp1Header, kRp1Fan, kBcm2712 };

// A property's big-endian 32-bit cells; a trailing part of a cell is dropped.
std::vector<std::uint32_t> dt_cells(const std::string& bytes);
// A property's NUL-ended strings ("compatible", "pins").
std::vector<std::string> dt_strings(const std::string& bytes);
// "gpio18" (a pinctrl node's `pins`) as 18; -1 for anything else.
int dt_gpio_name(const std::string& name);

// The block a node is, from its `compatible` strings and its device's name
// ("fe20c000.pwm", "1f00098000.pwm").
PwmBlockKind pwm_block_kind(const std::vector<std::string>& compatible, const std::string& device);

// The channel that drives header pin `gpio`, or -1: GPIO12 and 18 are
// channel 0, 13 and 19 channel 1 on the BCM2835; 12, 13, 18 and 19 are
// channels 0 to 3 on the RP1's PWM0.
int pwm_header_channel(PwmBlockKind kind, int gpio);
// The header pins channel `channel` can be on, lowest first.
std::vector<int> pwm_header_pins(PwmBlockKind kind, int channel);

// "GPIO18" or "gpio18" (0 to 53) as 18; -1 for anything else.
int parse_gpio_pin(const char* text);

// What a chip is, read from the device tree; empty or 0 what couldn't be.
struct PwmBlock {
  std::string chip;        // "pwmchip0"
  std::string device;      // "fe20c000.pwm"
  std::string node;        // "pwm@7e20c000"
  std::string compatible;  // the first `compatible` string
  PwmBlockKind kind = PwmBlockKind::kUnknown;
  int channels = 0;                  // npwm
  std::int64_t clock_hz = 0;         // assigned-clock-rates; 0: not in the tree
  std::vector<int> given_pins;       // the pins its pinctrl-0 gives it
  std::vector<int> held_channels;    // channels a kernel driver's `pwms` take
  std::vector<std::string> holders;  // the node of each, e.g. "cooling_fan"
};

struct PwmBoard {
  std::string model;             // the device tree's `model`, without " Rev 1.4"
  std::vector<PwmBlock> blocks;  // by chip number
};

// The period the block makes of `period_ns`, in picoseconds; 0 where its
// clock is unknown. The BCM2835 (and a block kolvan doesn't know) rounds
// to the nearest whole cycle; the RP1's driver writes RANGE = period / the
// whole nanoseconds of a tick, rounded, and the RP1 counts RANGE + 1 ticks.
std::int64_t pwm_made_period_ps(PwmBlockKind kind, std::int64_t clock_hz, std::int64_t period_ns);

// The config.txt line that gives the PWM header pin `gpio` (12, 13, 18,
// 19), e.g. "dtoverlay=pwm,pin=12,func=4"; empty for another pin.
std::string pwm_overlay_line(int gpio);

// What --pwm=GPIOn finds on `board`: the chip and channel, or false with
// `reason` (a missing overlay, a pin the tree gave no PWM, a channel a
// kernel driver holds), each saying what to do.
bool find_pwm_pin(const PwmBoard& board, int gpio, std::string& chip, int& channel,
                  std::string& reason);

// The start-up line for a chip the device tree describes (`block` null
// where it doesn't): "pwm: GPIO18 is pwmchip0:0 (Raspberry Pi 4 Model B),
// 60024 Hz from a 50 MHz clock (period 16660 ns), reduced level 14.1 %
// (duty 4.5 %)". `pin` is empty when the channel was named.
std::string describe_pwm_on_board(const std::string& pin, const std::string& channel,
                                  const std::string& model, const PwmBlock* block,
                                  const Station& station, const PwmCarrier& carrier);

// --pwm=list: the board, each chip with its block, channels, the pins each
// can be on, the one the tree gave it and those a kernel driver holds.
std::string describe_pwm_board(const PwmBoard& board);

// Linux (pwm_board_posix.cpp), under `root` (pwm_sysfs_root()): the board
// and every chip of class/pwm; one chip's directory; the board's model.
PwmBoard read_pwm_board(const std::string& root);
PwmBlock read_pwm_chip(const std::string& root, const std::string& chip_dir);
std::string read_pwm_model(const std::string& root);
