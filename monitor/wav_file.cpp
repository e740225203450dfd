// A WAV file as the monitor's sound: RIFF chunks read in order up to the
// data, 16-bit PCM at any rate and channel count (the first channel is
// read). A recorder that was stopped before it could write the data chunk's
// size leaves 0 or 0xFFFFFFFF there: the data then runs to the file's end.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "monitor/audio_source.h"

namespace {

std::uint32_t little_endian(const unsigned char* bytes, int count) {
  std::uint32_t value = 0;
  for (int i = count - 1; i >= 0; --i) value = value << 8 | bytes[i];
  return value;
}

// Reads the chunks up to "data"; false when the file isn't 16-bit PCM WAV.
bool read_header(AudioSource& source, std::int64_t file_size, std::string& reason) {
  unsigned char riff[12];
  if (std::fread(riff, 1, 12, source.file) != 12 || std::memcmp(riff, "RIFF", 4) != 0 ||
      std::memcmp(riff + 8, "WAVE", 4) != 0) {
    reason = "not a WAV file";
    return false;
  }
  int bits = 0;
  unsigned char chunk[8];
  while (std::fread(chunk, 1, 8, source.file) == 8) {
    const std::uint32_t size = little_endian(chunk + 4, 4);
    if (std::memcmp(chunk, "data", 4) == 0) {
      if (bits != 16 || source.channels < 1 || source.rate < 1) {
        reason = "not 16-bit PCM";
        return false;
      }
      const std::int64_t rest = file_size - std::ftell(source.file);
      const std::int64_t bytes = size == 0 || size == 0xFFFFFFFFu || size > rest ? rest : size;
      source.samples_total = bytes / (2 * source.channels);
      return true;
    }
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      unsigned char format[16];
      if (size < 16 || std::fread(format, 1, 16, source.file) != 16) break;
      const std::uint32_t tag = little_endian(format, 2);
      source.channels = static_cast<int>(little_endian(format + 2, 2));
      source.rate = static_cast<int>(little_endian(format + 4, 4));
      bits = static_cast<int>(little_endian(format + 14, 2));
      if (tag != 1 && tag != 0xFFFE) bits = 0;  // PCM, or PCM in the extensible form
      if (std::fseek(source.file, static_cast<long>(size - 16 + (size & 1)), SEEK_CUR) != 0) break;
    } else if (std::fseek(source.file, static_cast<long>(size + (size & 1)), SEEK_CUR) != 0) {
      break;
    }
  }
  reason = "no sound data in it";
  return false;
}

int read_wav(AudioSource& source, std::int16_t* out, int max, std::int64_t& first_us,
             std::string& error) {
  const std::int64_t left = source.samples_total - source.samples_read;
  const int want = static_cast<int>(left < max ? left : max);
  first_us = source.next_us + source.samples_read * 1000000 / source.rate;
  unsigned char frame[2 * 16];
  int got = 0;
  for (; got < want; ++got) {
    const std::size_t size = static_cast<std::size_t>(2 * source.channels);
    if (std::fread(frame, 1, size, source.file) != size) break;
    out[got] = static_cast<std::int16_t>(little_endian(frame, 2));
  }
  if (got == 0 && want > 0 && std::ferror(source.file)) {
    error = std::strerror(errno);
    return -1;
  }
  source.samples_read += got;
  return got;
}

void close_wav(AudioSource& source) {
  if (source.file != nullptr) std::fclose(source.file);
  source.file = nullptr;
}

}  // namespace

bool open_wav_file(AudioSource& source, const char* path, std::string& reason) {
  source = AudioSource{};
  source.name = path;
  struct stat info {};
  source.file = std::fopen(path, "rb");
  if (source.file == nullptr || fstat(fileno(source.file), &info) != 0) {
    reason = std::strerror(errno);
    close_wav(source);
    return false;
  }
  if (!read_header(source, info.st_size, reason) || source.channels > 16) {
    if (reason.empty()) reason = "more than 16 channels";
    close_wav(source);
    return false;
  }
  const std::int64_t modified_us =
      static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000 + info.st_mtim.tv_nsec / 1000;
  source.next_us = modified_us - source.samples_total * 1000000 / source.rate;
  source.read = read_wav;
  source.close = close_wav;
  return true;
}

bool names_wav_file(const char* argument) {
  const std::size_t length = std::strlen(argument);
  return length > 4 && (std::strcmp(argument + length - 4, ".wav") == 0 ||
                        std::strcmp(argument + length - 4, ".WAV") == 0);
}
