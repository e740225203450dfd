// The PWM pin on Windows: there is no PWM interface kolvan can use, so the
// option is refused with the other command-line errors.
#include "carrier/pwm.h"

namespace {

bool refuse_pwm(const char*, std::string& error) {
  error =
      "kolvan: --pwm keys a board's PWM pin through Linux's /sys/class/pwm; "
      "Windows has no such interface";
  return false;
}

constexpr CarrierOutput pwm_row() {
  CarrierOutput row = pwm_row_words();
  row.check = refuse_pwm;
  return row;
}

}  // namespace

extern const CarrierOutput kPwmOutput = pwm_row();
