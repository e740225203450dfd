// The PWM blocks of the Raspberry Pi boards as their device trees describe
// them: which block a chip is, which header pins its channels drive, what
// its clock makes of a period, and the lines that say so.
#include "carrier/pwm_board.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "base/units.h"

namespace {

constexpr std::int64_t kPsPerSecond = 1000 * kSecondNs;

bool has(const std::vector<std::string>& list, const char* item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

bool has(const std::vector<int>& list, int item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

// A platform device's address, the hex before its name's '.': "fe20c000.pwm".
bool device_address(const std::string& device, std::uint64_t& address) {
  const std::size_t dot = device.find('.');
  if (dot == 0 || dot == std::string::npos || dot > 16) return false;
  address = 0;
  for (std::size_t i = 0; i < dot; ++i) {
    const char c = device[i];
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (digit < 0) return false;
    address = address * 16 + static_cast<std::uint64_t>(digit);
  }
  return true;
}

std::string pin_list(const std::vector<int>& pins, const char* last_join) {
  std::string text;
  for (std::size_t i = 0; i < pins.size(); ++i) {
    if (i > 0) text += i + 1 == pins.size() ? last_join : ", ";
    text += "GPIO" + std::to_string(pins[i]);
  }
  return text;
}

// The pins the device tree gives `block` that are on one of its channels.
std::vector<int> given_header_pins(const PwmBlock& block) {
  std::vector<int> pins;
  for (int pin : block.given_pins) {
    if (pwm_header_channel(block.kind, pin) >= 0) pins.push_back(pin);
  }
  return pins;
}

bool is_raspberry_pi(const std::string& model) { return model.rfind("Raspberry Pi", 0) == 0; }

const char* block_role(PwmBlockKind kind) {
  switch (kind) {
    case PwmBlockKind::kBcm2711Audio:
      return ": the jack's PWM (GPIO40, GPIO41), on no header pin";
    case PwmBlockKind::kRp1Fan:
      return ": the fan's PWM (GPIO45), on no header pin";
    case PwmBlockKind::kBcm2712:
      return ": the BCM2712's own PWM, on no header pin";
    case PwmBlockKind::kUnknown:
      return ": a block kolvan doesn't know; name its channels as CHIP:CHANNEL";
    default:
      return "";
  }
}

}  // namespace

std::vector<std::uint32_t> dt_cells(const std::string& bytes) {
  std::vector<std::uint32_t> cells;
  for (std::size_t i = 0; i + 4 <= bytes.size(); i += 4) {
    std::uint32_t cell = 0;
    for (std::size_t b = 0; b < 4; ++b) cell = cell << 8 | static_cast<unsigned char>(bytes[i + b]);
    cells.push_back(cell);
  }
  return cells;
}

std::vector<std::string> dt_strings(const std::string& bytes) {
  std::vector<std::string> strings;
  std::size_t begin = 0;
  while (begin < bytes.size()) {
    std::size_t end = bytes.find('\0', begin);
    if (end == std::string::npos) end = bytes.size();
    strings.push_back(bytes.substr(begin, end - begin));
    begin = end + 1;
  }
  return strings;
}

int dt_gpio_name(const std::string& name) {
  if (name.compare(0, 4, "gpio") != 0 || name.size() < 5 || name.size() > 6) return -1;
  int number = 0;
  for (std::size_t i = 4; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return -1;
    number = number * 10 + (name[i] - '0');
  }
  return number;
}

int parse_gpio_pin(const char* text) {
  if (text == nullptr) return -1;
  std::string name = text;
  if (name.size() < 4) return -1;
  for (std::size_t i = 0; i < 4; ++i) {
    if (name[i] >= 'A' && name[i] <= 'Z') name[i] = static_cast<char>(name[i] - 'A' + 'a');
  }
  const int gpio = dt_gpio_name(name);
  return gpio <= 53 ? gpio : -1;
}

PwmBlockKind pwm_block_kind(const std::vector<std::string>& compatible, const std::string& device) {
  std::uint64_t address = 0;
  const bool addressed = device_address(device, address);
  if (has(compatible, "brcm,bcm2835-pwm") || has(compatible, "brcm,bcm2711-pwm")) {
    // 0x7e20c000 on the bus: 0x2020c000, 0x3f20c000 or 0xfe20c000 to the CPU.
    if (addressed && (address & 0xffffff) == 0x20c000) return PwmBlockKind::kBcm2835;
    if (addressed && (address & 0xffffff) == 0x20c800) return PwmBlockKind::kBcm2711Audio;
    return PwmBlockKind::kUnknown;
  }
  if (has(compatible, "raspberrypi,rp1-pwm")) {
    if (addressed && (address & 0xfffff) == 0x98000) return PwmBlockKind::kRp1Header;
    if (addressed && (address & 0xfffff) == 0x9c000) return PwmBlockKind::kRp1Fan;
    return PwmBlockKind::kUnknown;
  }
  if (has(compatible, "brcm,bcm7038-pwm")) return PwmBlockKind::kBcm2712;
  return PwmBlockKind::kUnknown;
}

int pwm_header_channel(PwmBlockKind kind, int gpio) {
  if (kind == PwmBlockKind::kBcm2835) {
    if (gpio == 12 || gpio == 18) return 0;
    if (gpio == 13 || gpio == 19) return 1;
  }
  if (kind == PwmBlockKind::kRp1Header) {
    if (gpio == 12) return 0;
    if (gpio == 13) return 1;
    if (gpio == 18) return 2;
    if (gpio == 19) return 3;
  }
  return -1;
}

std::vector<int> pwm_header_pins(PwmBlockKind kind, int channel) {
  std::vector<int> pins;
  for (int gpio : {12, 13, 18, 19}) {
    if (pwm_header_channel(kind, gpio) == channel) pins.push_back(gpio);
  }
  return pins;
}

std::int64_t pwm_made_period_ps(PwmBlockKind kind, std::int64_t clock_hz, std::int64_t period_ns) {
  if (clock_hz <= 0 || period_ns <= 0) return 0;
  if (kind == PwmBlockKind::kRp1Header || kind == PwmBlockKind::kRp1Fan) {
    const std::int64_t tick_ns = (kSecondNs + clock_hz / 2) / clock_hz;
    if (tick_ns <= 0) return 0;
    const std::int64_t range = (period_ns + tick_ns / 2) / tick_ns;
    return (range + 1) * tick_ns * 1000;
  }
  const std::int64_t cycles = (period_ns * clock_hz + kSecondNs / 2) / kSecondNs;
  if (cycles <= 0) return 0;
  return (cycles * kPsPerSecond + clock_hz / 2) / clock_hz;
}

std::string pwm_overlay_line(int gpio) {
  // The pwm overlay's pin,function pairs: 18,2 (Alt5) is its default;
  // 12,4 and 13,4 (Alt0); 19,2 (Alt5).
  switch (gpio) {
    case 18:
      return "dtoverlay=pwm";
    case 12:
    case 13:
      return "dtoverlay=pwm,pin=" + std::to_string(gpio) + ",func=4";
    case 19:
      return "dtoverlay=pwm,pin=19,func=2";
    default:
      return "";
  }
}

bool find_pwm_pin(const PwmBoard& board, int gpio, std::string& chip, int& channel,
                  std::string& reason) {
  const std::string pin = "GPIO" + std::to_string(gpio);
  const std::string overlay = pwm_overlay_line(gpio);
  if (overlay.empty()) {
    reason = "no PWM channel reaches " + pin + " on a Raspberry Pi's header: GPIO12, 13, 18 or 19";
    return false;
  }
  const PwmBlock* found = nullptr;
  for (const PwmBlock& block : board.blocks) {
    if (pwm_header_channel(block.kind, gpio) >= 0) {
      found = &block;
      break;
    }
  }
  if (found == nullptr) {
    if (is_raspberry_pi(board.model)) {
      reason = "no PWM drives " + pin + " on this " + board.model + ": add the line " + overlay +
               " to /boot/firmware/config.txt and reboot";
    } else {
      reason = "no PWM block kolvan knows drives " + pin + " on this board" +
               (board.model.empty() ? "" : " (" + board.model + ")") +
               ": name the channel as CHIP:CHANNEL (kolvan --pwm=list)";
    }
    return false;
  }
  channel = pwm_header_channel(found->kind, gpio);
  const std::vector<int> given = given_header_pins(*found);
  if (!given.empty() && !has(given, gpio)) {
    reason = "the device tree gives " + found->chip + "'s PWM " + pin_list(given, " and ") +
             ", not " + pin + ": wire " + pin_list(given, " or ") + ", or make the line in " +
             "config.txt " + overlay + " and reboot";
    return false;
  }
  for (std::size_t i = 0; i < found->held_channels.size(); ++i) {
    if (found->held_channels[i] != channel) continue;
    reason = found->chip + ":" + std::to_string(channel) + " (" + pin +
             ") is held by the kernel (" + found->holders[i] +
             "): choose another pin (kolvan --pwm=list)";
    return false;
  }
  chip = found->chip;
  return true;
}

std::string describe_pwm_on_board(const std::string& pin, const std::string& channel,
                                  const std::string& model, const PwmBlock* block,
                                  const Station& station, const PwmCarrier& carrier) {
  const std::int64_t reduced_ns =
      station.keyed_is_carrier_high ? carrier.unkeyed_ns : carrier.keyed_ns;
  std::string text = "pwm: " + (pin.empty() ? channel : pin + " is " + channel);
  if (!model.empty()) text += " (" + model + ")";
  char part[200];
  const PwmBlockKind kind = block != nullptr ? block->kind : PwmBlockKind::kUnknown;
  const std::int64_t clock_hz = block != nullptr ? block->clock_hz : 0;
  const std::int64_t made_ps = pwm_made_period_ps(kind, clock_hz, carrier.period_ns);
  if (made_ps > 0) {
    const bool rp1 = kind == PwmBlockKind::kRp1Header || kind == PwmBlockKind::kRp1Fan;
    std::snprintf(part, sizeof part, ", %.0f Hz from a %g MHz clock (period %lld ns%s)",
                  static_cast<double>(kPsPerSecond) / static_cast<double>(made_ps),
                  static_cast<double>(clock_hz) / 1e6,
                  static_cast<long long>((made_ps + 500) / 1000),
                  rp1 ? ", as the RP1's driver sets it: not measured" : "");
  } else {
    std::snprintf(part, sizeof part,
                  ", %.0f Hz asked (period %lld ns; the device tree gives no clock for this "
                  "block, so what it makes is unknown)",
                  station.carrier_hz, static_cast<long long>(carrier.period_ns));
  }
  text += part;
  std::snprintf(
      part, sizeof part, ", reduced level %.3g %% (duty %.1f %%)", 100 * station.reduced_level,
      carrier.period_ns > 0
          ? 100.0 * static_cast<double>(reduced_ns) / static_cast<double>(carrier.period_ns)
          : 0.0);
  return text + part;
}

std::string describe_pwm_board(const PwmBoard& board) {
  std::string text = (board.model.empty() ? std::string("a board whose device tree names no model")
                                          : board.model) +
                     "\n";
  if (board.blocks.empty()) {
    return text + "no PWM chip: on a Raspberry Pi, the line dtoverlay=pwm in config.txt gives " +
           "GPIO18 one (docs/pwm.md)\n";
  }
  for (const PwmBlock& block : board.blocks) {
    text += block.chip + ":";
    if (!block.device.empty()) {
      text += " " + block.device;
      if (!block.compatible.empty()) text += " (" + block.compatible + ")";
      text += ",";
    }
    text += " " + std::to_string(block.channels) + " channels";
    if (block.clock_hz > 0) {
      char clock[40];
      std::snprintf(clock, sizeof clock, ", a %g MHz clock",
                    static_cast<double>(block.clock_hz) / 1e6);
      text += clock;
    }
    if (!block.device.empty()) text += block_role(block.kind);
    text += "\n";
    const std::vector<int> given = given_header_pins(block);
    for (int c = 0; c < block.channels; ++c) {
      std::string line;
      const std::vector<int> pins = pwm_header_pins(block.kind, c);
      if (!pins.empty()) line += pin_list(pins, " or ");
      std::vector<int> given_here;
      for (int pin : given) {
        if (pwm_header_channel(block.kind, pin) == c) given_here.push_back(pin);
      }
      if (!given_here.empty())
        line += "; the device tree gives it " + pin_list(given_here, " and ");
      for (std::size_t i = 0; i < block.held_channels.size(); ++i) {
        if (block.held_channels[i] == c) {
          line += std::string(line.empty() ? "" : "; ") + "held by the kernel (" +
                  block.holders[i] + ")";
        }
      }
      if (!line.empty()) text += "  channel " + std::to_string(c) + ": " + line + "\n";
    }
  }
  return text;
}
