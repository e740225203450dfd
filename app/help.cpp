// What --help shows, built from the tables of ways out and of stations so
// that it lists exactly the ways out, stations, carriers, keying and glyphs
// the program has.
#include <cstdio>
#include <string>
#include <vector>

#include "app/options.h"
#include "carrier/carrier_output.h"

namespace {

// The opening paragraph: the rows' words, in the table's order, between
// these.
constexpr const char* kAboutStart =
    "kolvan sends the time code of a long-wave time station for the host's clock,\n"
    "so that a radio-controlled clock near a simple transmitter sets itself. Each\n"
    "second's pulse keys ";
constexpr const char* kAboutEnd =
    "It runs until Ctrl-C and shows each minute it sends, one glyph per second.\n";

// The list of arguments: the operand's lines first, then these, then each
// option's, then the rest.
constexpr const char* kOperandsAndStation =
    "  offset_sec        seconds added to the host's clock, may be negative (0)\n"
    "  --station=NAME    the station whose code is sent (jjy40)\n";

constexpr const char* kOtherOptions =
    "  --zone=NAME       send the time of zone NAME (IANA: Asia/Tokyo) instead of\n"
    "                    the station's own (jjy40, jjy60: the host's local time)\n"
    "  --time=YYYY-MM-DDTHH:MM[:SS]\n"
    "                    send from that time of the zone sent on, one second per\n"
    "                    second of the host (instead of offset_sec)\n"
    "  --minutes=N       end after N frames have gone out, as Ctrl-C ends it\n"
    "  --carrier         no code: the carrier at full level, for tuning\n"
    "  --wait-sync       open nothing until the host clock is synchronised (NTP);\n";
// After --wait-sync's first line, before the last option's.
constexpr const char* kLastOptions = "  --help, --version this text; the program's version\n";

constexpr std::size_t kColumns = 80;

// `pieces` after `prefix`, joined by `separator` and broken between pieces so
// that no line passes 80 columns; a continued line starts under the first
// piece, and a broken separator keeps its mark (";") at the line's end.
std::string wrapped(const std::string& prefix, const std::vector<std::string>& pieces,
                    const std::string& separator) {
  std::string text = prefix, line_end = separator;
  while (!line_end.empty() && line_end.back() == ' ') line_end.pop_back();
  std::size_t line_start = 0;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const std::string joint = i == 0 ? "" : separator;
    if (i > 0 && text.size() - line_start + joint.size() + pieces[i].size() > kColumns) {
      text += line_end + "\n";
      line_start = text.size();
      text += std::string(prefix.size(), ' ') + pieces[i];
    } else {
      text += joint + pieces[i];
    }
  }
  return text + "\n";
}

std::vector<std::string> words_of(const std::string& text) {
  std::vector<std::string> words;
  for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
    end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) words.push_back(text.substr(start, end - start));
  }
  return words;
}

std::string station_lines(const Station& station) {
  char text[256];
  std::snprintf(text, sizeof text, "  %-6s %s, %g kHz: line at space = carrier %s\n", station.name,
                station.call_sign, station.carrier_hz / 1000.0,
                station.keyed_is_carrier_high ? "high (as wired directly)"
                                              : "reduced (invert the keying)");
  std::string lines = text;
  lines += wrapped("         time: ", words_of(station.time_note), " ");
  std::vector<std::string> glyphs;
  for (int s = 0; s < station.symbol_count; ++s) {
    std::snprintf(text, sizeof text, "'%c' %s", station.symbols[s].glyph,
                  station.symbols[s].meaning);
    glyphs.push_back(text);
  }
  return lines + wrapped("         glyphs: ", glyphs, "; ");
}

// What each way out does while --wait-sync waits, in the table's order,
// under the option's first line.
std::string waiting_lines() {
  std::vector<std::string> said;
  for (const CarrierOutput* const* row = kOutputs; *row != nullptr; ++row)
    if ((*row)->waiting != nullptr) said.push_back((*row)->waiting);
  std::string text = "meanwhile";
  for (std::size_t i = 0; i < said.size(); ++i)
    text += (i == 0 ? " " : i + 1 == said.size() ? ", and " : ", ") + said[i];
  return wrapped(std::string(20, ' '), words_of(text), " ");
}

// The rows' help lines: those of the way out taken as an operand, or those
// of the ways out named by options.
std::string output_lines(bool operand) {
  std::string lines;
  for (const CarrierOutput* const* row = kOutputs; *row != nullptr; ++row)
    if (((*row)->argument == OutputArgument::Operand) == operand) lines += (*row)->help;
  return lines;
}

}  // namespace

std::string help_text() {
  std::string text = kAboutStart;
  for (const CarrierOutput* const* row = kOutputs; *row != nullptr; ++row) text += (*row)->about;
  text += kAboutEnd;
  text += "\n";
  text += usage_text(true);
  text += "\n";
  text += output_lines(true) + kOperandsAndStation + output_lines(false) + kOtherOptions +
          waiting_lines() + kLastOptions;
  text += "\nStations (jjy is jjy40; on the serial line jjy40 and jjy60 are the same code):\n";
  for (const Station* const* s = kStations; *s != nullptr; ++s) text += station_lines(**s);
  text +=
      "\nA '?' stands for a second whose pulse was dropped because the host was late.\n"
      "Exit status: 0 after Ctrl-C, --minutes or the usage text, 1 when the port or\n"
      "device can't be opened, 2 for a wrong option. SIGTERM and SIGHUP close the way\n"
      "out as Ctrl-C does, then end kolvan as their signal does.\n";
  return text;
}
