// A way out the platform lacks: its row, built here on Linux from the
// Windows file, keeps the table's words and refuses every argument in
// `check`, before anything is opened, so that main ends with the reason,
// the usage and status 2 (under Wine: scripts/wine-options.sh).
#include <gtest/gtest.h>

#include <string>

#include "carrier/carrier_output.h"

extern const CarrierOutput kPwmOutput;

TEST(RefusedRow, ThePwmPinOnWindowsRefusesEveryArgumentAndOpensNothing) {
  EXPECT_STREQ(kPwmOutput.option, "--pwm");
  ASSERT_NE(kPwmOutput.check, nullptr);
  for (const char* argument : {"pwmchip0:0", "GPIO18", "list", ""}) {
    SCOPED_TRACE(argument);
    std::string error;
    EXPECT_FALSE(kPwmOutput.check(argument, error));
    EXPECT_EQ(error,
              "kolvan: --pwm keys a board's PWM pin through Linux's /sys/class/pwm; "
              "Windows has no such interface");
  }
  EXPECT_EQ(kPwmOutput.query, nullptr);
  EXPECT_EQ(kPwmOutput.open, nullptr);
}
