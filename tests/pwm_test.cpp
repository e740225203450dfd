// The PWM pin's pure part: CHIP:CHANNEL, each station's period and duties
// against the figures of its published carrier levels, the edges that a
// second's shape plans, the set-up line, and the writer's rules on a fake
// clock.
#include "carrier/pwm.h"
#include "carrier/pwm_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "carrier/pwm_board.h"

namespace {

TEST(PwmChannel, ReadsANamedChipOrADirectoryAndANumber) {
  struct Case {
    const char* argument;
    bool ok;
    const char* chip;
    int channel;
  };
  const Case kCases[] = {
      {"pwmchip0:0", true, "/sys/class/pwm/pwmchip0", 0},
      {"pwmchip2:1", true, "/sys/class/pwm/pwmchip2", 1},
      {"/tmp/tree/pwmchip0:3", true, "/tmp/tree/pwmchip0", 3},
      {"pwmchip0", false, "", 0},
      {"pwmchip0:", false, "", 0},
      {"pwmchip0:1a", false, "", 0},
      {"pwmchip0:-1", false, "", 0},
      {"gpio18:0", false, "", 0},
      {"GPIO18", true, "", -18},
      {"gpio12", true, "", -12},
      {"GPIO7", false, "", 0},
      {"GPIO", false, "", 0},
      {"GPIO018", false, "", 0},
      {"GPIO54", false, "", 0},
      {"pwmchip:0", false, "", 0},
      {":0", false, "", 0},
      {"pwmchip0:\x1b[2J", false, "", 0},
      {"pwmchip\x1b[2J:0", false, "", 0},
  };
  for (const Case& c : kCases) {
    PwmChannel channel;
    std::string error;
    EXPECT_EQ(parse_pwm_channel(c.argument, channel, error), c.ok) << c.argument;
    if (c.ok && c.channel < 0) {  // a pin: its number, its chip still to find
      EXPECT_EQ(channel.gpio, -c.channel) << c.argument;
    } else if (c.ok) {
      EXPECT_EQ(channel.chip, c.chip) << c.argument;
      EXPECT_EQ(channel.channel, c.channel) << c.argument;
      EXPECT_EQ(channel.gpio, -1) << c.argument;
    } else {
      EXPECT_EQ(error.rfind("kolvan: --pwm=", 0), 0u) << error;
      EXPECT_EQ(error.find('\x1b'), std::string::npos) << error;
    }
  }
}

// Periods are 1e9 / the carrier in whole nanoseconds; the reduced duties
// are the figures of the station notes (JJY 3.2 %, WWVB 4.5 %, DCF77
// 4.8 %, BPC 10.2 %, MSF 0), to their one decimal; the full carrier is half
// the period.
TEST(PwmCarrier, PeriodAndDutiesOfEveryStation) {
  struct Case {
    const char* station;
    std::int64_t period_ns;
    double reduced_percent;
    bool keyed_is_full;
  };
  const Case kCases[] = {
      {"jjy40", 25000, 3.2, true},  {"jjy60", 16667, 3.2, true}, {"wwvb", 16667, 4.5, false},
      {"dcf77", 12903, 4.8, false}, {"msf", 16667, 0.0, false},  {"bpc", 14599, 10.2, false},
  };
  for (const Case& c : kCases) {
    const PwmCarrier carrier = pwm_carrier(*find_station(c.station));
    EXPECT_EQ(carrier.period_ns, c.period_ns) << c.station;
    const std::int64_t full = c.period_ns / 2;
    const std::int64_t reduced = c.keyed_is_full ? carrier.unkeyed_ns : carrier.keyed_ns;
    EXPECT_EQ(c.keyed_is_full ? carrier.keyed_ns : carrier.unkeyed_ns, full) << c.station;
    EXPECT_NEAR(100.0 * static_cast<double>(reduced) / static_cast<double>(c.period_ns),
                c.reduced_percent, 0.05)
        << c.station;
  }
}

// A second's edges from its start, in the widths the stations publish: a
// JJY marker keys 0.2 s high; a DCF77 1 bit reduces 0.2 s; MSF's A=0 B=1 is
// off, on, off for 0.1 s each; DCF77's minute mark keys nothing. A start
// near the end of the millisecond count wraps with it.
TEST(PwmEdges, OneSecondsShapeAsItsEdges) {
  constexpr bool K = true, U = false;  // keyed, unkeyed
  struct Edge {
    std::uint32_t at_ms;
    bool keyed;
  };
  struct Case {
    const char* station;
    const char* what;
    PulseShape shape;
    std::uint32_t start_ms;
    std::vector<Edge> edges;
  };
  const std::vector<Case> kCases = {
      {"jjy40", "marker", {192, 0, 0}, 5000, {{5000, K}, {5200, U}}},
      {"jjy40", "0 bit", {768, 0, 0}, 5000, {{5000, K}, {5800, U}}},
      {"dcf77", "1 bit", {192, 0, 0}, 7, {{7, K}, {207, U}}},
      {"msf", "A=0 B=1", {96, 96, 96}, 1000, {{1000, K}, {1100, U}, {1200, K}, {1300, U}}},
      {"dcf77", "minute mark", {0, 0, 0}, 1000, {}},
      {"jjy40", "wrapping 1 bit", {480, 0, 0}, 0xFFFFFF00u, {{0xFFFFFF00u, K}, {244, U}}},
  };
  for (const Case& c : kCases) {
    const PwmCarrier carrier = pwm_carrier(*find_station(c.station));
    PwmEdge edges[kMaxPwmEdges];
    const int count = plan_pwm_edges(carrier, c.shape, c.start_ms, edges);
    ASSERT_EQ(count, static_cast<int>(c.edges.size())) << c.station << " " << c.what;
    for (int i = 0; i < count; ++i) {
      const Edge& expected = c.edges[static_cast<std::size_t>(i)];
      EXPECT_EQ(edges[i].at_ms, expected.at_ms) << c.station << " " << c.what << " edge " << i;
      EXPECT_EQ(edges[i].duty_ns, expected.keyed ? carrier.keyed_ns : carrier.unkeyed_ns)
          << c.station << " " << c.what << " edge " << i;
    }
  }
}

TEST(PwmSetUpLine, SaysWhatIsSetAndWhatTheKernelKept) {
  EXPECT_EQ(describe_pwm("pwmchip0:0", *find_station("jjy40"), pwm_carrier(*find_station("jjy40")),
                         25000),
            "pwm: pwmchip0:0 at 40000 Hz (period 25000 ns), reduced level 10 % (duty 3.2 %)");
  // A Raspberry Pi 5's 50 MHz PWM clock makes 60 kHz as 60 024 Hz.
  EXPECT_EQ(
      describe_pwm("pwmchip0:1", *find_station("wwvb"), pwm_carrier(*find_station("wwvb")), 16660),
      "pwm: pwmchip0:1 at 60000 Hz (period 16667 ns; the kernel keeps 16660 ns: 60024 Hz), "
      "reduced level 14.1 % (duty 4.5 %)");
}

// The frequencies the boards make, as Raspberry Pi's and the kernel's
// sources give them: pwm-bcm2835 rounds to the nearest cycle of its clock,
// 50 MHz on Raspberry Pi OS since 2024 and 10 MHz in the mainline trees;
// the RP1 counts its driver's RANGE + 1 ticks of 20 ns.
TEST(PwmBoardFrequency, EachBlockAndClockMakesTheTablesFigure) {
  struct Case {
    PwmBlockKind kind;
    std::int64_t clock_hz;
    const char* station;
    const char* hz;
  };
  const Case kCases[] = {
      {PwmBlockKind::kBcm2835, 50000000, "jjy40", "40000"},
      {PwmBlockKind::kBcm2835, 50000000, "jjy60", "60024"},
      {PwmBlockKind::kBcm2835, 50000000, "bpc", "68493"},
      {PwmBlockKind::kBcm2835, 50000000, "dcf77", "77519"},
      {PwmBlockKind::kBcm2835, 10000000, "wwvb", "59880"},
      {PwmBlockKind::kBcm2835, 10000000, "bpc", "68493"},
      {PwmBlockKind::kRp1Header, 50000000, "jjy40", "39968"},
      {PwmBlockKind::kRp1Header, 50000000, "msf", "59952"},
      {PwmBlockKind::kRp1Header, 50000000, "bpc", "68399"},  // 731 ticks; "68 400" rounded
      {PwmBlockKind::kRp1Header, 50000000, "dcf77", "77399"},
  };
  for (const Case& c : kCases) {
    const std::int64_t ps =
        pwm_made_period_ps(c.kind, c.clock_hz, pwm_carrier(*find_station(c.station)).period_ns);
    char hz[32];
    std::snprintf(hz, sizeof hz, "%.0f", 1e12 / static_cast<double>(ps));
    EXPECT_STREQ(hz, c.hz) << c.station << " at " << c.clock_hz;
  }
  EXPECT_EQ(pwm_made_period_ps(PwmBlockKind::kBcm2835, 0, 16667), 0);
}

// Blocks by their nodes' compatible and their devices' names, as the
// kernel's device trees place them: the Pi 1's 0x2020c000, the Pi 4's
// 0xfe20c000 and its jack's 0xfe20c800, the RP1's 0x98000 and 0x9c000.
TEST(PwmBoardBlocks, KnowsEachBlockAndTheChannelsOfTheHeadersPins) {
  EXPECT_EQ(pwm_block_kind({"brcm,bcm2835-pwm"}, "2020c000.pwm"), PwmBlockKind::kBcm2835);
  EXPECT_EQ(pwm_block_kind({"brcm,bcm2711-pwm", "brcm,bcm2835-pwm"}, "fe20c000.pwm"),
            PwmBlockKind::kBcm2835);
  EXPECT_EQ(pwm_block_kind({"brcm,bcm2835-pwm"}, "fe20c800.pwm"), PwmBlockKind::kBcm2711Audio);
  EXPECT_EQ(pwm_block_kind({"raspberrypi,rp1-pwm"}, "1f00098000.pwm"), PwmBlockKind::kRp1Header);
  EXPECT_EQ(pwm_block_kind({"raspberrypi,rp1-pwm"}, "1f0009c000.pwm"), PwmBlockKind::kRp1Fan);
  EXPECT_EQ(pwm_block_kind({"brcm,bcm7038-pwm"}, "107d517a80.pwm"), PwmBlockKind::kBcm2712);
  EXPECT_EQ(pwm_block_kind({"vendor,other-pwm"}, "1000.pwm"), PwmBlockKind::kUnknown);
  const int kBcm[4] = {0, 1, 0, 1};  // GPIO12, 13, 18, 19
  const int kRp1[4] = {0, 1, 2, 3};
  const int kPins[4] = {12, 13, 18, 19};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(pwm_header_channel(PwmBlockKind::kBcm2835, kPins[i]), kBcm[i]) << kPins[i];
    EXPECT_EQ(pwm_header_channel(PwmBlockKind::kRp1Header, kPins[i]), kRp1[i]) << kPins[i];
    EXPECT_EQ(pwm_header_channel(PwmBlockKind::kRp1Fan, kPins[i]), -1) << kPins[i];
  }
  // The pwm overlay's legal pin,function pairs.
  EXPECT_EQ(pwm_overlay_line(18), "dtoverlay=pwm");
  EXPECT_EQ(pwm_overlay_line(12), "dtoverlay=pwm,pin=12,func=4");
  EXPECT_EQ(pwm_overlay_line(19), "dtoverlay=pwm,pin=19,func=2");
}

TEST(PwmBoardProperties, ReadsBigEndianCellsAndNulEndedStrings) {
  EXPECT_EQ(dt_cells(std::string("\x02\xfa\xf0\x80\x00\x00\x00\x12\x01", 9)),
            (std::vector<std::uint32_t>{50000000, 18}));
  EXPECT_EQ(dt_strings(std::string("brcm,bcm2711-pwm\0brcm,bcm2835-pwm\0", 34)),
            (std::vector<std::string>{"brcm,bcm2711-pwm", "brcm,bcm2835-pwm"}));
  EXPECT_EQ(dt_gpio_name("gpio18"), 18);
  EXPECT_EQ(dt_gpio_name("gpio"), -1);
  EXPECT_EQ(dt_gpio_name("aon_gpio9"), -1);
}

// The writer's rules on a fake clock. Every second from kFirst on keys one
// shape; the writer looks at the clock when it asks to, unless the host
// stalls it (it runs again at the stall's end) or the clock is stepped (a
// look after the step reads the real time plus the step). Writes are taken
// at the clock's reading, in ms from the start of host second kS; the
// duties are the set-up line's figures for the station: JJY at 40 kHz keyed
// 12500 ns (full), 797 ns between pulses; MSF keyed 0 (off), else 8333 ns.
constexpr std::int64_t kS = 1796000000;
constexpr std::int64_t kMs = 1000000;

struct Written {
  std::int64_t at_ms;
  std::int64_t duty_ns;
  bool operator==(const Written& o) const { return at_ms == o.at_ms && duty_ns == o.duty_ns; }
};

std::ostream& operator<<(std::ostream& out, const Written& w) {
  return out << "{" << w.at_ms << " ms, " << w.duty_ns << "}";
}

struct WriterCase {
  const char* what;
  const char* station;
  PulseShape shape;
  bool steady;
  std::int64_t stall_from_ms, stall_to_ms;  // the writer doesn't run in between
  std::int64_t step_at_ms, step_ms;         // at that real time, the clock moves by step_ms
  std::int64_t until_ms;                    // real time
  std::vector<Written> writes;
};

std::vector<Written> drive(const WriterCase& c) {
  const PwmCarrier carrier = pwm_carrier(*find_station(c.station));
  ShapeSchedule schedule;
  for (std::int64_t s = kS - 12; s <= kS + 12; ++s) schedule_shape(schedule, s, c.shape);
  PwmWriter writer;
  std::vector<Written> writes;
  std::int64_t real = -300 * kMs;  // from 0.3 s before the second
  auto clock = [&](std::int64_t r) {
    return kS * 1000 * kMs + r + (c.step_ms != 0 && r >= c.step_at_ms * kMs ? c.step_ms * kMs : 0);
  };
  while (real < c.until_ms * kMs && writes.size() < 20) {
    const std::int64_t now = clock(real);
    const PwmStep step = next_pwm_step(writer, carrier, schedule, c.steady, now);
    if (step.write) {
      writes.push_back({(now - kS * 1000 * kMs) / kMs, step.duty_ns});
      continue;
    }
    // A step of the clock is seen within the onset margin: never a longer look.
    if (step.wake_ns <= now || step.wake_ns - now > 50 * kMs) {
      ADD_FAILURE() << c.what << ": looks again " << (step.wake_ns - now) / kMs << " ms on";
      break;
    }
    real += step.wake_ns - now;
    if (real > c.stall_from_ms * kMs && real < c.stall_to_ms * kMs) real = c.stall_to_ms * kMs;
  }
  return writes;
}

TEST(PwmWriter, KeysOnTimeLeavesOutALateOnsetEndsALateRunAtOnceAndFollowsClockSteps) {
  const PulseShape kOneBit = {480, 0, 0};       // JJY 1: 0.5 s
  const PulseShape kMsf01 = {96, 96, 96};       // MSF A=0 B=1: off, on, off 0.1 s each
  const std::int64_t K = 12500, U = 797;        // JJY's keyed and rest duties
  const std::vector<WriterCase> kCases = {
      {"on time", "jjy40", kOneBit, false, 0, 0, 0, 0, 1700,
       {{0, K}, {500, U}, {1000, K}, {1500, U}}},
      {"onset 40 ms late: keyed then, ended on time", "jjy40", kOneBit, false, -10, 40, 0, 0, 1700,
       {{40, K}, {500, U}, {1000, K}, {1500, U}}},
      {"onset 60 ms late: the second left out", "jjy40", kOneBit, false, -10, 60, 0, 0, 1700,
       {{1000, K}, {1500, U}}},
      {"a stall over the end: the run ended the moment the writer runs", "jjy40", kOneBit, false,
       300, 700, 0, 0, 1700, {{0, K}, {700, U}, {1000, K}, {1500, U}}},
      {"a late end leaves the rest of the second out", "msf", kMsf01, false, 50, 250, 0, 0, 1400,
       {{0, 0}, {250, 8333}, {1000, 0}, {1100, 8333}, {1200, 0}, {1300, 8333}}},
      {"the clock stepped back 10 s in a pulse: ended, the next second on time", "jjy40", kOneBit,
       false, 0, 0, 300, -10000, 2000, {{0, K}, {-9700, U}, {-9000, K}, {-8500, U}}},
      {"the clock stepped forward 10 s in a pulse: ended, the next second on time", "jjy40",
       kOneBit, false, 0, 0, 300, 10000, 2000, {{0, K}, {10300, U}, {11000, K}, {11500, U}}},
      {"--carrier: the full carrier written every second", "jjy40", {0, 0, 0}, true, 0, 0, 0, 0,
       1800, {{-300, K}, {700, K}, {1700, K}}},
  };
  for (const WriterCase& c : kCases) EXPECT_EQ(drive(c), c.writes) << c.what;
}

}  // namespace
