// The device-tree properties kolvan reads for --pwm (cells, string lists,
// pin names, a block's compatible and device name) and the --pwm argument,
// on any bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "carrier/pwm.h"
#include "carrier/pwm_board.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::vector<std::uint32_t> cells = dt_cells(bytes);
  const std::vector<std::string> strings = dt_strings(bytes);
  for (const std::string& s : strings) dt_gpio_name(s);
  const PwmBlockKind kind = pwm_block_kind(strings, strings.empty() ? "" : strings.back());
  for (std::uint32_t cell : cells) {
    pwm_header_channel(kind, static_cast<int>(cell));
    pwm_made_period_ps(kind, cell, 16667);
  }
  const std::string argument = bytes.substr(0, bytes.find('\0'));
  PwmChannel channel;
  std::string error;
  parse_pwm_channel(argument.c_str(), channel, error);
  return 0;
}
