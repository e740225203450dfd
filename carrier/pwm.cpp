// The PWM pin's pure part: CHIP:CHANNEL, the carrier's period and duties,
// the edges of a second and the set-up line.
#include "carrier/pwm.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/escaped_name.h"
#include "base/sysfs_root.h"
#include "base/units.h"
#include "carrier/pwm_board.h"

namespace {

bool all_digits(const char* text) {
  if (*text == '\0') return false;
  for (; *text != '\0'; ++text) {
    if (*text < '0' || *text > '9') return false;
  }
  return true;
}

std::int64_t duty_for_level(std::int64_t period_ns, double level) {
  if (level >= 1) return period_ns / 2;
  if (level <= 0) return 0;
  return std::llround(static_cast<double>(period_ns) * std::asin(level) / kPi);
}

double percent(std::int64_t part, std::int64_t whole) {
  return whole > 0 ? 100.0 * static_cast<double>(part) / static_cast<double>(whole) : 0;
}

}  // namespace

std::string pwm_sysfs_root() { return sysfs_root(); }

std::string pwm_class_dir() { return pwm_sysfs_root() + "/class/pwm"; }

bool parse_pwm_channel(const char* argument, PwmChannel& out, std::string& error) {
  const std::string text = argument != nullptr ? argument : "";
  if ((text[0] == 'G' || text[0] == 'g') && text.find(':') == std::string::npos) {
    const int gpio = parse_gpio_pin(text.c_str());
    if (gpio < 0) {
      error = "kolvan: --pwm=" + text + ": a pin is GPIO and its number, e.g. --pwm=GPIO18";
      return false;
    }
    if (pwm_overlay_line(gpio).empty()) {
      error = "kolvan: --pwm=" + text + ": no PWM channel reaches it on a Raspberry Pi's header: " +
              "GPIO12, 13, 18 or 19 (or name a channel as CHIP:CHANNEL)";
      return false;
    }
    out.chip.clear();
    out.channel = 0;
    out.gpio = gpio;
    return true;
  }
  const std::size_t colon = text.rfind(':');
  const std::string chip = colon == std::string::npos ? text : text.substr(0, colon);
  const std::string channel = colon == std::string::npos ? "" : text.substr(colon + 1);
  const bool named = chip.find('/') == std::string::npos;
  if (chip.empty() ||
      (named && (chip.compare(0, 7, "pwmchip") != 0 || !all_digits(chip.c_str() + 7)))) {
    error = "kolvan: --pwm=" + escaped_name(text) + ": CHIP is pwmchipN or the path of a chip's directory";
    return false;
  }
  if (!all_digits(channel.c_str()) || channel.size() > 4) {
    error = "kolvan: --pwm=" + escaped_name(text) + ": CHANNEL after the ':' is a number, e.g. pwmchip0:0";
    return false;
  }
  out.chip = named ? pwm_class_dir() + "/" + chip : chip;
  out.channel = std::atoi(channel.c_str());
  out.gpio = -1;
  return true;
}

PwmCarrier pwm_carrier(const Station& station) {
  PwmCarrier carrier;
  carrier.period_ns = std::llround(1e9 / station.carrier_hz);
  const std::int64_t full = carrier.period_ns / 2;
  const std::int64_t reduced = duty_for_level(carrier.period_ns, station.reduced_level);
  carrier.keyed_ns = station.keyed_is_carrier_high ? full : reduced;
  carrier.unkeyed_ns = station.keyed_is_carrier_high ? reduced : full;
  return carrier;
}

int plan_pwm_edges(const PwmCarrier& carrier, const PulseShape& shape, std::uint32_t start_ms,
                   PwmEdge* edges) {
  // Runs are counted in line characters, 960 a second; each edge falls on
  // the millisecond nearest its run's end.
  const int runs[3] = {shape.keyed, shape.gap, shape.keyed_again};
  int count = 0;
  int chars = 0;
  for (int r = 0; r < 3; ++r) {
    if (runs[r] <= 0) continue;
    const bool keyed = r != 1;
    const std::uint32_t begin =
        start_ms +
        static_cast<std::uint32_t>((chars * 1000 + kLineCharsPerSecond / 2) / kLineCharsPerSecond);
    chars += runs[r];
    const std::uint32_t end =
        start_ms +
        static_cast<std::uint32_t>((chars * 1000 + kLineCharsPerSecond / 2) / kLineCharsPerSecond);
    if (keyed) {
      edges[count++] = {begin, carrier.keyed_ns};
      edges[count++] = {end, carrier.unkeyed_ns};
    }
  }
  return count;
}

std::string describe_pwm(const char* argument, const Station& station, const PwmCarrier& carrier,
                         std::int64_t kept_period_ns) {
  const std::int64_t reduced_ns =
      station.keyed_is_carrier_high ? carrier.unkeyed_ns : carrier.keyed_ns;
  char text[320];
  int n = std::snprintf(text, sizeof text, "pwm: %s at %.0f Hz (period %lld ns", argument,
                        station.carrier_hz, static_cast<long long>(carrier.period_ns));
  if (kept_period_ns > 0 && kept_period_ns != carrier.period_ns && n > 0 &&
      n < static_cast<int>(sizeof text)) {
    n += std::snprintf(
        text + n, sizeof text - static_cast<std::size_t>(n), "; the kernel keeps %lld ns: %.0f Hz",
        static_cast<long long>(kept_period_ns), 1e9 / static_cast<double>(kept_period_ns));
  }
  if (n > 0 && n < static_cast<int>(sizeof text)) {
    std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n),
                  "), reduced level %.3g %% (duty %.1f %%)", 100 * station.reduced_level,
                  percent(reduced_ns, carrier.period_ns));
  }
  return text;
}
