// The PWM pin on Windows: there is no PWM interface kolvan can use, so the
// option is refused with the other command-line errors.
#include "carrier/pwm.h"

#include <cstdio>

namespace {

constexpr const char* kNoPwm =
    "kolvan: --pwm keys a board's PWM pin through Linux's /sys/class/pwm; "
    "Windows has no such interface";

bool refuse_pwm(const char*, std::string& error) {
  error = kNoPwm;
  return false;
}

constexpr CarrierOutput pwm_row() {
  CarrierOutput row{};
  row.name = "pwm";
  row.check = refuse_pwm;
  return row;
}

constexpr CarrierOutput kPwmOutput = pwm_row();

}  // namespace

const CarrierOutput& pwm_carrier_output() { return kPwmOutput; }

int pwm_list() {
  std::fprintf(stderr, "%s\n", kNoPwm);
  return 2;
}
