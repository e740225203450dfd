// The sound card on Windows, through WASAPI in shared mode: the system's own
// audio API (ole32 and the audio engine, no DLL beside the program). The
// engine mixes every program's sound at its own rate, usually 48 kHz, which
// the stream is given in, so the tone is the subharmonic. The stream's
// buffer holds half a second, so that a starved process doesn't run it dry;
// a writer thread keeps about 200 ms of it queued. Before each block it
// reads the device's position (IAudioClock: how much has left the device,
// and when), so that what was written less what has left dates the block's
// first sample on the host's clock; the padding (queued in the engine's
// buffer, short of the device's own latency) serves when there is no clock.
#include "carrier/audio_output.h"

#include <windows.h>
#include <audioclient.h>
#include <mmdeviceapi.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "carrier/ahead.h"
#include "carrier/tone.h"
#include "pacing/clock.h"

namespace {

constexpr REFERENCE_TIME kStreamBuffer = 5000000;  // 500 ms, in 100 ns units
constexpr int kQueuedMs = 200;
constexpr DWORD kWakeMs = 10;

struct Stream {
  IMMDevice* device = nullptr;
  IAudioClient* client = nullptr;
  IAudioRenderClient* render = nullptr;
  IAudioClock* clock = nullptr;
  UINT64 clock_frequency = 0;  // the position's units a second
  std::int64_t written = 0;    // frames handed to the stream since it opened
  UINT32 buffer_frames = 0;
  int rate = 0;
  int channels = 0;
  bool is_float = false;  // else 16-bit integers
  ToneSetup setup;
};

// Everything the sound card keeps while kolvan runs.
struct AudioWin32 {
  std::string device_name;  // as given: "default", or the output's number
  const Station* station = nullptr;
  Stream stream;  // under stream_lock once the writer runs
  // Ctrl-C's handler runs on a thread of its own, beside the writer: the
  // stream is used under this lock by both, and once the handler has
  // stopped it the writer touches it no more. Initialised before the
  // writer starts.
  CRITICAL_SECTION stream_lock;
  std::atomic<bool> stream_lock_ready{false};
  bool interrupted = false;  // under stream_lock
};
AudioWin32 audio;

std::string error_text(HRESULT result) {
  char text[64];
  std::snprintf(text, sizeof text, "error 0x%08lx", static_cast<unsigned long>(result));
  return text;
}

template <typename T>
void release(T*& object) {
  if (object != nullptr) object->Release();
  object = nullptr;
}

void close_stream() {
  if (audio.stream.client != nullptr) audio.stream.client->Stop();
  release(audio.stream.render);
  release(audio.stream.clock);
  release(audio.stream.client);
  audio.stream.written = 0;
  release(audio.stream.device);
}

// The default output, or the DEVICE-th active output (0 is the first).
HRESULT find_device(IMMDeviceEnumerator* outputs, IMMDevice*& device) {
  if (audio.device_name == "default") return outputs->GetDefaultAudioEndpoint(eRender, eConsole, &device);
  char* end = nullptr;
  const unsigned long number = std::strtoul(audio.device_name.c_str(), &end, 10);
  if (end == audio.device_name.c_str() || *end != '\0') return E_INVALIDARG;
  IMMDeviceCollection* all = nullptr;
  HRESULT result = outputs->EnumAudioEndpoints(eRender, DEVICE_STATE_ACTIVE, &all);
  if (FAILED(result)) return result;
  result = all->Item(static_cast<UINT>(number), &device);
  all->Release();
  return result;
}

// The mix format's sample type: 32-bit float, or 16-bit integer.
bool take_format(const WAVEFORMATEX* format) {
  WORD tag = format->wFormatTag;
  if (tag == WAVE_FORMAT_EXTENSIBLE)
    tag = static_cast<WORD>(reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(format)->SubFormat.Data1);
  audio.stream.is_float = tag == WAVE_FORMAT_IEEE_FLOAT && format->wBitsPerSample == 32;
  const bool is_pcm16 = tag == WAVE_FORMAT_PCM && format->wBitsPerSample == 16;
  audio.stream.rate = static_cast<int>(format->nSamplesPerSec);
  audio.stream.channels = format->nChannels;
  return (audio.stream.is_float || is_pcm16) && audio.stream.channels > 0;
}

HRESULT open_stream() {
  IMMDeviceEnumerator* outputs = nullptr;
  HRESULT result = CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                    __uuidof(IMMDeviceEnumerator), reinterpret_cast<void**>(&outputs));
  if (FAILED(result)) return result;
  result = find_device(outputs, audio.stream.device);
  outputs->Release();
  if (SUCCEEDED(result))
    result = audio.stream.device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                                     reinterpret_cast<void**>(&audio.stream.client));
  WAVEFORMATEX* format = nullptr;
  if (SUCCEEDED(result)) result = audio.stream.client->GetMixFormat(&format);
  if (SUCCEEDED(result) && !take_format(format)) result = AUDCLNT_E_UNSUPPORTED_FORMAT;
  if (SUCCEEDED(result) && !choose_tone(audio.station->carrier_hz, audio.stream.rate, false, audio.stream.setup))
    result = AUDCLNT_E_UNSUPPORTED_FORMAT;
  if (SUCCEEDED(result))
    result = audio.stream.client->Initialize(AUDCLNT_SHAREMODE_SHARED, 0, kStreamBuffer, 0, format, nullptr);
  if (format != nullptr) CoTaskMemFree(format);
  if (SUCCEEDED(result)) result = audio.stream.client->GetBufferSize(&audio.stream.buffer_frames);
  if (SUCCEEDED(result))
    result = audio.stream.client->GetService(__uuidof(IAudioRenderClient),
                                       reinterpret_cast<void**>(&audio.stream.render));
  if (SUCCEEDED(result) &&
      FAILED(audio.stream.client->GetService(__uuidof(IAudioClock), reinterpret_cast<void**>(&audio.stream.clock))))
    audio.stream.clock = nullptr;
  if (audio.stream.clock != nullptr && FAILED(audio.stream.clock->GetFrequency(&audio.stream.clock_frequency)))
    audio.stream.clock_frequency = 0;
  if (SUCCEEDED(result)) result = audio.stream.client->Start();
  if (FAILED(result)) {
    close_stream();
    return result;
  }
  return S_OK;
}

// A fault that the stream can't mend (the device removed, the engine
// restarted): said once, in `said`, which the writer prints once it has let
// go of the stream's lock, and the writer opens it again every second.
void give_up_stream(HRESULT result, std::string& said) {
  said = "kolvan: audio device " + audio.device_name + ": " + error_text(result);
  close_stream();
}

// How long the sound written so far takes to leave the device: what was
// written less what the device's clock says has left (moved on to now from
// the performance-counter time it was read at), or else the padding.
std::int64_t queued_ns(UINT32 padding) {
  UINT64 position = 0, at = 0;
  if (audio.stream.clock == nullptr || audio.stream.clock_frequency == 0 ||
      FAILED(audio.stream.clock->GetPosition(&position, &at)))
    return static_cast<std::int64_t>(padding) * 1000000000 / audio.stream.rate;
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  const double now_100ns = static_cast<double>(now.QuadPart) * 1e7 / static_cast<double>(frequency.QuadPart);
  const double left_s = static_cast<double>(position) / static_cast<double>(audio.stream.clock_frequency) +
                        (now_100ns - static_cast<double>(at)) * 1e-7;
  return static_cast<std::int64_t>((static_cast<double>(audio.stream.written) / audio.stream.rate - left_s) * 1e9);
}

// Tops the queue up to kQueuedMs; false when the stream failed (`said`
// says how).
bool top_up(ToneState& state, ShapeSchedule& schedule, std::vector<std::int16_t>& mono,
            std::string& said) {
  UINT32 queued = 0;
  HRESULT result = audio.stream.client->GetCurrentPadding(&queued);
  if (FAILED(result)) {
    give_up_stream(result, said);
    return false;
  }
  const UINT32 target = static_cast<UINT32>(audio.stream.rate) * kQueuedMs / 1000;
  if (queued >= target || audio.stream.buffer_frames <= queued) return true;
  UINT32 count = target - queued;
  if (count > audio.stream.buffer_frames - queued) count = audio.stream.buffer_frames - queued;
  BYTE* data = nullptr;
  result = audio.stream.render->GetBuffer(count, &data);
  if (FAILED(result)) {
    give_up_stream(result, said);
    return false;
  }
  const std::int64_t first_ns = calendar_ns() + queued_ns(queued);
  mono.resize(count);
  read_schedule(schedule);
  render_tone(state, schedule, first_ns, mono.data(), static_cast<int>(count));
  for (UINT32 i = 0; i < count; ++i) {
    for (int c = 0; c < audio.stream.channels; ++c) {
      const std::size_t at = static_cast<std::size_t>(i) * audio.stream.channels + c;
      if (audio.stream.is_float) {
        reinterpret_cast<float*>(data)[at] = mono[i] / 32768.0f;
      } else {
        reinterpret_cast<std::int16_t*>(data)[at] = mono[i];
      }
    }
  }
  result = audio.stream.render->ReleaseBuffer(count, 0);
  if (FAILED(result)) {
    give_up_stream(result, said);
    return false;
  }
  audio.stream.written += count;
  return true;
}

void writer() {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  ShapeSchedule schedule;
  std::vector<std::int16_t> mono;
  ToneState state;
  bool started = false;
  for (;;) {
    EnterCriticalSection(&audio.stream_lock);
    const bool lost = audio.stream.client == nullptr;
    LeaveCriticalSection(&audio.stream_lock);
    if (lost) {
      started = false;
      Sleep(1000);
    }
    // Nothing that takes the C runtime's locks happens under the stream's:
    // the handler may have stopped the loop's thread holding them.
    std::string said;
    bool ok = true;
    EnterCriticalSection(&audio.stream_lock);
    if (audio.interrupted) {
      LeaveCriticalSection(&audio.stream_lock);
      return;
    }
    if (audio.stream.client == nullptr) {
      ok = SUCCEEDED(open_stream());
      if (ok) said = "kolvan: audio device " + audio.device_name + ": playing again";
    } else {
      if (!started) {
        start_tone(state, audio.stream.setup, audio.station->keyed_is_carrier_high);
        started = true;
      }
      ok = top_up(state, schedule, mono, said);
    }
    LeaveCriticalSection(&audio.stream_lock);
    if (!said.empty()) std::fprintf(stderr, "%s\n", said.c_str());
    if (ok) Sleep(kWakeMs);
  }
}

}  // namespace

// Called by the Ctrl-C handler on a thread of its own: the engine stops
// playing the stream at once, before the process ends, and the writer
// touches the stream no more. Nothing to stop before the stream opened.
void close_audio() {
  if (!audio.stream_lock_ready.load()) return;
  EnterCriticalSection(&audio.stream_lock);
  audio.interrupted = true;
  if (audio.stream.client != nullptr) audio.stream.client->Stop();
  LeaveCriticalSection(&audio.stream_lock);
}

bool open_audio_output(const std::string& name, const Station& chosen, std::string& reason) {
  audio.device_name = name.empty() ? "default" : name;
  audio.station = &chosen;
  InitializeCriticalSection(&audio.stream_lock);
  audio.stream_lock_ready.store(true);
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  const HRESULT result = open_stream();
  if (FAILED(result)) {
    reason = result == E_INVALIDARG || result == HRESULT_FROM_WIN32(ERROR_NOT_FOUND) ? "no such device" : error_text(result);
    return false;
  }
  std::fprintf(stderr, "%s\n", describe_tone(audio.stream.setup, audio.station->carrier_hz).c_str());
  if (!start_ahead_writer(writer)) {
    reason = "no thread for the writer";
    return false;
  }
  return true;
}
