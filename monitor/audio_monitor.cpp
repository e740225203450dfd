// The monitor's sound input: the source opened by its argument, blocks read
// and dated, the envelope fed, the line monitor's events printed.
#include "monitor/audio_monitor.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "base/escaped_name.h"
#include "monitor/audio_envelope.h"
#include "monitor/audio_source.h"

namespace {

// Read at most this many samples at a time; a device gives what it has.
constexpr int kBlockSamples = 4800;

bool open_source(const char* argument, const Station& station, AudioSource& source,
                 std::string& reason) {
  if (std::strcmp(argument, "--audio") == 0)
    return open_audio_capture(source, "", station.carrier_hz, reason);
  if (std::strncmp(argument, "--audio=", 8) == 0)
    return open_audio_capture(source, argument + 8, station.carrier_hz, reason);
  return open_wav_file(source, argument, reason);
}

std::string first_line(const AudioSource& source, const AudioEnvelope& envelope) {
  std::string line = (source.pcm != nullptr ? "Listening on audio device " : "Reading ") +
                     escaped_name(source.name) + " at " + std::to_string(source.rate) + " Hz for";
  const std::vector<double> tones = envelope_tones(envelope);
  for (std::size_t i = 0; i < tones.size(); ++i)
    line += (i == 0 ? " " : " and ") + std::to_string(static_cast<long>(tones[i])) + " Hz";
  return line;
}

void print_events(const std::vector<LineEvent>& events, void (*print)(const std::string&)) {
  for (const LineEvent& event : events) print(format_line_event(event));
}

// After a file's last sample: a second of silence ends the pulse being read,
// and the time moved on lets the last minute end.
void finish_file(AudioEnvelope& envelope, std::int64_t end_us, LineMonitor& monitor,
                 std::vector<LineEvent>& events) {
  std::vector<std::int16_t> silence(static_cast<std::size_t>(envelope.rate), 0);
  feed_envelope(envelope, silence.data(), envelope.rate, end_us, monitor, events);
  monitor.idle(end_us + 2000000, events);
}

}  // namespace

bool names_audio_input(const char* argument) {
  return std::strcmp(argument, "--audio") == 0 || std::strncmp(argument, "--audio=", 8) == 0 ||
         names_wav_file(argument);
}

int monitor_audio(const char* argument, const Station& station, LineMonitor& monitor,
                  const volatile sig_atomic_t& stop, void (*print)(const std::string& line)) {
  AudioSource source;
  std::string reason;
  if (!open_source(argument, station, source, reason)) {
    const bool device = std::strncmp(argument, "--audio", 7) == 0;
    const std::string name = device ? (argument[7] == '=' ? argument + 8 : "default") : argument;
    std::fprintf(stderr, "kolvan-monitor: can not open %s%s: %s\n", device ? "audio device " : "",
                 escaped_name(name).c_str(), reason.c_str());
    return 1;
  }
  AudioEnvelope envelope;
  start_envelope(envelope, source.rate, station);
  print(first_line(source, envelope));

  std::vector<std::int16_t> block(kBlockSamples);
  std::vector<LineEvent> events;
  int status = 0;
  std::int64_t end_us = source.next_us;  // a file's end when it has no sample
  while (!stop) {
    events.clear();
    std::int64_t first_us = 0;
    const int count = source.read(source, block.data(), kBlockSamples, first_us, reason);
    if (count < 0) {
      std::fprintf(stderr, "kolvan-monitor: %s: %s\n", escaped_name(source.name).c_str(),
                   reason.c_str());
      status = 1;
      break;
    }
    if (count == 0 && source.file != nullptr) {
      finish_file(envelope, end_us, monitor, events);
      print_events(events, print);
      break;
    }
    feed_envelope(envelope, block.data(), count, first_us, monitor, events);
    end_us = first_us + static_cast<std::int64_t>(count) * 1000000 / source.rate;
    print_events(events, print);
  }
  source.close(source);
  return status;
}
