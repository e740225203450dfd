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

#include "carrier/tone.h"
#include "pacing/clock.h"

namespace {

constexpr REFERENCE_TIME kStreamBuffer = 5000000;  // 500 ms, in 100 ns units
constexpr int kQueuedMs = 200;
constexpr DWORD kWakeMs = 10;

std::string device_name;  // as given: "default", or the output's number
const Station* station = nullptr;

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
Stream stream;  // under stream_lock once the writer runs

// Ctrl-C's handler runs on a thread of its own, beside the writer: the
// stream is used under this lock by both, and once the handler has stopped
// it the writer touches it no more. Initialised before the writer starts.
CRITICAL_SECTION stream_lock;
std::atomic<bool> stream_lock_ready{false};
bool interrupted = false;  // under stream_lock

CRITICAL_SECTION schedule_lock;
ToneSchedule schedule;  // under schedule_lock

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
  if (stream.client != nullptr) stream.client->Stop();
  release(stream.render);
  release(stream.clock);
  release(stream.client);
  stream.written = 0;
  release(stream.device);
}

// The default output, or the DEVICE-th active output (0 is the first).
HRESULT find_device(IMMDeviceEnumerator* outputs, IMMDevice*& device) {
  if (device_name == "default") return outputs->GetDefaultAudioEndpoint(eRender, eConsole, &device);
  char* end = nullptr;
  const unsigned long number = std::strtoul(device_name.c_str(), &end, 10);
  if (end == device_name.c_str() || *end != '\0') return E_INVALIDARG;
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
  stream.is_float = tag == WAVE_FORMAT_IEEE_FLOAT && format->wBitsPerSample == 32;
  const bool is_pcm16 = tag == WAVE_FORMAT_PCM && format->wBitsPerSample == 16;
  stream.rate = static_cast<int>(format->nSamplesPerSec);
  stream.channels = format->nChannels;
  return (stream.is_float || is_pcm16) && stream.channels > 0;
}

HRESULT open_stream() {
  IMMDeviceEnumerator* outputs = nullptr;
  HRESULT result = CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                    __uuidof(IMMDeviceEnumerator), reinterpret_cast<void**>(&outputs));
  if (FAILED(result)) return result;
  result = find_device(outputs, stream.device);
  outputs->Release();
  if (SUCCEEDED(result))
    result = stream.device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                                     reinterpret_cast<void**>(&stream.client));
  WAVEFORMATEX* format = nullptr;
  if (SUCCEEDED(result)) result = stream.client->GetMixFormat(&format);
  if (SUCCEEDED(result) && !take_format(format)) result = AUDCLNT_E_UNSUPPORTED_FORMAT;
  if (SUCCEEDED(result) && !choose_tone(station->carrier_hz, stream.rate, false, stream.setup))
    result = AUDCLNT_E_UNSUPPORTED_FORMAT;
  if (SUCCEEDED(result))
    result = stream.client->Initialize(AUDCLNT_SHAREMODE_SHARED, 0, kStreamBuffer, 0, format, nullptr);
  if (format != nullptr) CoTaskMemFree(format);
  if (SUCCEEDED(result)) result = stream.client->GetBufferSize(&stream.buffer_frames);
  if (SUCCEEDED(result))
    result = stream.client->GetService(__uuidof(IAudioRenderClient),
                                       reinterpret_cast<void**>(&stream.render));
  if (SUCCEEDED(result) &&
      FAILED(stream.client->GetService(__uuidof(IAudioClock), reinterpret_cast<void**>(&stream.clock))))
    stream.clock = nullptr;
  if (stream.clock != nullptr && FAILED(stream.clock->GetFrequency(&stream.clock_frequency)))
    stream.clock_frequency = 0;
  if (SUCCEEDED(result)) result = stream.client->Start();
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
  said = "kolvan: audio device " + device_name + ": " + error_text(result);
  close_stream();
}

// How long the sound written so far takes to leave the device: what was
// written less what the device's clock says has left (moved on to now from
// the performance-counter time it was read at), or else the padding.
std::int64_t queued_ns(UINT32 padding) {
  UINT64 position = 0, at = 0;
  if (stream.clock == nullptr || stream.clock_frequency == 0 ||
      FAILED(stream.clock->GetPosition(&position, &at)))
    return static_cast<std::int64_t>(padding) * 1000000000 / stream.rate;
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  const double now_100ns = static_cast<double>(now.QuadPart) * 1e7 / static_cast<double>(frequency.QuadPart);
  const double left_s = static_cast<double>(position) / static_cast<double>(stream.clock_frequency) +
                        (now_100ns - static_cast<double>(at)) * 1e-7;
  return static_cast<std::int64_t>((static_cast<double>(stream.written) / stream.rate - left_s) * 1e9);
}

// Tops the queue up to kQueuedMs; false when the stream failed (`said`
// says how).
bool top_up(ToneState& state, std::vector<std::int16_t>& mono, std::string& said) {
  UINT32 queued = 0;
  HRESULT result = stream.client->GetCurrentPadding(&queued);
  if (FAILED(result)) {
    give_up_stream(result, said);
    return false;
  }
  const UINT32 target = static_cast<UINT32>(stream.rate) * kQueuedMs / 1000;
  if (queued >= target || stream.buffer_frames <= queued) return true;
  UINT32 count = target - queued;
  if (count > stream.buffer_frames - queued) count = stream.buffer_frames - queued;
  BYTE* data = nullptr;
  result = stream.render->GetBuffer(count, &data);
  if (FAILED(result)) {
    give_up_stream(result, said);
    return false;
  }
  const std::int64_t first_ns = calendar_ns() + queued_ns(queued);
  mono.resize(count);
  EnterCriticalSection(&schedule_lock);
  render_tone(state, schedule, first_ns, mono.data(), static_cast<int>(count));
  LeaveCriticalSection(&schedule_lock);
  for (UINT32 i = 0; i < count; ++i) {
    for (int c = 0; c < stream.channels; ++c) {
      const std::size_t at = static_cast<std::size_t>(i) * stream.channels + c;
      if (stream.is_float) {
        reinterpret_cast<float*>(data)[at] = mono[i] / 32768.0f;
      } else {
        reinterpret_cast<std::int16_t*>(data)[at] = mono[i];
      }
    }
  }
  result = stream.render->ReleaseBuffer(count, 0);
  if (FAILED(result)) {
    give_up_stream(result, said);
    return false;
  }
  stream.written += count;
  return true;
}

DWORD WINAPI writer(void*) {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  std::vector<std::int16_t> mono;
  ToneState state;
  bool started = false;
  for (;;) {
    EnterCriticalSection(&stream_lock);
    const bool lost = stream.client == nullptr;
    LeaveCriticalSection(&stream_lock);
    if (lost) {
      started = false;
      Sleep(1000);
    }
    // Nothing that takes the C runtime's locks happens under the stream's:
    // the handler may have stopped the loop's thread holding them.
    std::string said;
    bool ok = true;
    EnterCriticalSection(&stream_lock);
    if (interrupted) {
      LeaveCriticalSection(&stream_lock);
      return 0;
    }
    if (stream.client == nullptr) {
      ok = SUCCEEDED(open_stream());
      if (ok) said = "kolvan: audio device " + device_name + ": playing again";
    } else {
      if (!started) {
        start_tone(state, stream.setup, station->keyed_is_carrier_high);
        started = true;
      }
      ok = top_up(state, mono, said);
    }
    LeaveCriticalSection(&stream_lock);
    if (!said.empty()) std::fprintf(stderr, "%s\n", said.c_str());
    if (ok) Sleep(kWakeMs);
  }
}

}  // namespace

void announce_audio(std::int64_t host_second, const PulseShape& shape) {
  EnterCriticalSection(&schedule_lock);
  schedule_shape(schedule, host_second, shape);
  LeaveCriticalSection(&schedule_lock);
}

// Called by the Ctrl-C handler on a thread of its own: the engine stops
// playing the stream at once, before the process ends, and the writer
// touches the stream no more. Nothing to stop before the stream opened.
void close_audio() {
  if (!stream_lock_ready.load()) return;
  EnterCriticalSection(&stream_lock);
  interrupted = true;
  if (stream.client != nullptr) stream.client->Stop();
  LeaveCriticalSection(&stream_lock);
}

bool open_audio_output(const std::string& name, const Station& chosen, std::string& reason) {
  device_name = name.empty() ? "default" : name;
  station = &chosen;
  InitializeCriticalSection(&schedule_lock);
  InitializeCriticalSection(&stream_lock);
  stream_lock_ready.store(true);
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  const HRESULT result = open_stream();
  if (FAILED(result)) {
    reason = result == E_INVALIDARG || result == HRESULT_FROM_WIN32(ERROR_NOT_FOUND) ? "no such device" : error_text(result);
    return false;
  }
  std::fprintf(stderr, "%s\n", describe_tone(stream.setup, station->carrier_hz).c_str());
  HANDLE thread = CreateThread(nullptr, 0, writer, nullptr, 0, nullptr);
  if (thread == nullptr) {
    reason = "no thread for the writer";
    return false;
  }
  CloseHandle(thread);
  return true;
}
