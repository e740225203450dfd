// The sound card on Windows, through waveOut: the system's own audio API on
// every Windows version (and Wine's, on top of its PulseAudio driver), no
// COM and no DLL beside the program. Its output goes through the audio
// engine's shared mix, which resamples to the engine's own rate, so the
// tone is always the subharmonic at 48 kHz. A writer thread keeps a ring of
// buffers queued; before each it reads how many samples the device has
// played, so the samples written but not yet played give the time of the
// buffer's first sample, and each second's edge lands on its host second.
#include "carrier/audio_output.h"

#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "carrier/tone.h"

namespace {

constexpr int kRate = 48000;
constexpr int kBuffers = 10;
constexpr int kBufferFrames = kRate / 50;  // 20 ms each: 200 ms queued

// 100 ns intervals between 1601-01-01 and 1970-01-01.
constexpr std::int64_t kUnixEpochAsFileTime = 116444736000000000ll;

std::string device_name;
UINT device_id = WAVE_MAPPER;
const Station* station = nullptr;
ToneSetup setup;

// The open device; the interrupt handler takes it with an exchange.
std::atomic<HWAVEOUT> wave_out{nullptr};
HANDLE buffer_done = nullptr;  // signalled by the device as each buffer ends

CRITICAL_SECTION schedule_lock;
ToneSchedule schedule;  // under schedule_lock

std::int64_t realtime_ns() {
  FILETIME now;
  GetSystemTimePreciseAsFileTime(&now);
  const std::int64_t ticks =
      static_cast<std::int64_t>((static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
  return (ticks - kUnixEpochAsFileTime) * 100;
}

std::string error_text(MMRESULT result) {
  char text[MAXERRORLENGTH] = "";
  if (waveOutGetErrorTextA(result, text, sizeof text) != MMSYSERR_NOERROR)
    std::snprintf(text, sizeof text, "error %u", static_cast<unsigned>(result));
  return text;
}

// DEVICE is a waveOut device number (0 is the first) or the start of its
// name as the system lists it; empty for the default output.
bool find_device(const std::string& name, UINT& id) {
  if (name.empty()) {
    id = WAVE_MAPPER;
    return true;
  }
  char* end = nullptr;
  const unsigned long number = std::strtoul(name.c_str(), &end, 10);
  const UINT count = waveOutGetNumDevs();
  if (end != name.c_str() && *end == '\0') {
    id = static_cast<UINT>(number);
    return number < count;
  }
  for (UINT i = 0; i < count; ++i) {
    WAVEOUTCAPSA caps;
    if (waveOutGetDevCapsA(i, &caps, sizeof caps) == MMSYSERR_NOERROR &&
        name.compare(0, name.size(), caps.szPname, 0, name.size()) == 0) {
      id = i;
      return true;
    }
  }
  return false;
}

MMRESULT open_device() {
  WAVEFORMATEX format = {};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = 1;
  format.nSamplesPerSec = kRate;
  format.wBitsPerSample = 16;
  format.nBlockAlign = 2;
  format.nAvgBytesPerSec = kRate * 2;
  HWAVEOUT opened = nullptr;
  const MMRESULT result = waveOutOpen(&opened, device_id, &format,
                                      reinterpret_cast<DWORD_PTR>(buffer_done), 0, CALLBACK_EVENT);
  if (result == MMSYSERR_NOERROR) wave_out = opened;
  return result;
}

struct Ring {
  WAVEHDR headers[kBuffers];
  std::vector<std::int16_t> samples[kBuffers];
  std::int64_t written = 0;  // samples handed to the device since it opened
};

void release_ring(Ring& ring, HWAVEOUT device) {
  for (WAVEHDR& header : ring.headers)
    if (header.dwFlags & WHDR_PREPARED) waveOutUnprepareHeader(device, &header, sizeof header);
  for (WAVEHDR& header : ring.headers) header = WAVEHDR{};
  ring.written = 0;
}

// A device that fails is reported once, closed, and opened again every
// second; playing resumes with the next second.
void give_up_device(Ring& ring, MMRESULT result) {
  std::fprintf(stderr, "kolvan: audio device %s: %s\n", device_name.c_str(),
               error_text(result).c_str());
  HWAVEOUT device = wave_out.exchange(nullptr);
  if (device == nullptr) return;
  waveOutReset(device);
  release_ring(ring, device);
  waveOutClose(device);
}

// Samples the device has played; the rest of those written are queued.
bool played_samples(HWAVEOUT device, std::int64_t written, std::int64_t& played) {
  MMTIME time = {};
  time.wType = TIME_SAMPLES;
  if (waveOutGetPosition(device, &time, sizeof time) != MMSYSERR_NOERROR || time.wType != TIME_SAMPLES)
    return false;
  // The count is 32 bits: take it relative to what was written.
  const std::uint32_t low = time.u.sample;
  played = (written & ~0xFFFFFFFFll) | low;
  if (played > written) played -= 0x100000000ll;
  return true;
}

bool fill(Ring& ring, int index, ToneState& state) {
  HWAVEOUT device = wave_out;
  WAVEHDR& header = ring.headers[index];
  if (header.dwFlags & WHDR_PREPARED) waveOutUnprepareHeader(device, &header, sizeof header);
  std::int64_t played = 0;
  if (!played_samples(device, ring.written, played)) played = ring.written;
  const std::int64_t first_ns = realtime_ns() + (ring.written - played) * 1000000000 / kRate;
  std::vector<std::int16_t>& samples = ring.samples[index];
  samples.resize(kBufferFrames);
  EnterCriticalSection(&schedule_lock);
  render_tone(state, schedule, first_ns, samples.data(), kBufferFrames);
  LeaveCriticalSection(&schedule_lock);
  header = WAVEHDR{};
  header.lpData = reinterpret_cast<LPSTR>(samples.data());
  header.dwBufferLength = kBufferFrames * 2;
  MMRESULT result = waveOutPrepareHeader(device, &header, sizeof header);
  if (result == MMSYSERR_NOERROR) result = waveOutWrite(device, &header, sizeof header);
  if (result != MMSYSERR_NOERROR) {
    give_up_device(ring, result);
    return false;
  }
  ring.written += kBufferFrames;
  return true;
}

DWORD WINAPI writer(void*) {
  static Ring ring;
  ToneState state;
  bool playing = false;
  for (;;) {
    if (wave_out == nullptr) {
      playing = false;
      Sleep(1000);
      if (open_device() == MMSYSERR_NOERROR)
        std::fprintf(stderr, "kolvan: audio device %s: playing again\n", device_name.c_str());
      continue;
    }
    if (!playing) {
      start_tone(state, setup, station->keyed_is_carrier_high);
      playing = true;
    }
    WaitForSingleObject(buffer_done, 100);
    for (int i = 0; i < kBuffers && wave_out != nullptr; ++i) {
      const WAVEHDR& header = ring.headers[i];
      const bool free = !(header.dwFlags & WHDR_PREPARED) || (header.dwFlags & WHDR_DONE);
      if (free && !fill(ring, i, state)) break;
    }
  }
}

void send_audio(const PulseShape&) {}

void announce_audio(std::int64_t host_second, const PulseShape& shape) {
  EnterCriticalSection(&schedule_lock);
  schedule_shape(schedule, host_second, shape);
  LeaveCriticalSection(&schedule_lock);
}

// Called by the Ctrl-C handler, on a thread of its own: the queued sound is
// dropped at once, before the process ends.
void close_audio() {
  HWAVEOUT device = wave_out.exchange(nullptr);
  if (device != nullptr) waveOutReset(device);
}

const CarrierOutput kAudioOutput = {send_audio, announce_audio, close_audio};

}  // namespace

bool open_audio_output(const std::string& name, const Station& chosen, std::string& reason) {
  device_name = name.empty() ? "default" : name;
  station = &chosen;
  if (!find_device(name, device_id)) {
    reason = "no such device";
    return false;
  }
  if (!choose_tone(station->carrier_hz, kRate, false, setup)) {
    reason = "no tone fits 48 kHz";
    return false;
  }
  InitializeCriticalSection(&schedule_lock);
  buffer_done = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  const MMRESULT result = open_device();
  if (result != MMSYSERR_NOERROR) {
    reason = error_text(result);
    return false;
  }
  std::fprintf(stderr, "%s\n", describe_tone(setup, station->carrier_hz).c_str());
  HANDLE thread = CreateThread(nullptr, 0, writer, nullptr, 0, nullptr);
  if (thread == nullptr) {
    reason = "no thread for the writer";
    return false;
  }
  CloseHandle(thread);
  return true;
}

const CarrierOutput& audio_carrier_output() { return kAudioOutput; }
