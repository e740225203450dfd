// A WAV file as the monitor's sound: RIFF chunks read in order up to the
// data, 16-bit PCM at 8 to 768 kHz and up to 16 channels (the first is
// read), from a regular file only. A recorder that was stopped before it
// could write the data chunk's size leaves 0 or 0xFFFFFFFF there: the data
// then runs to the file's end.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "monitor/audio_source.h"

namespace {

std::uint32_t little_endian(const unsigned char* bytes, int count) {
  std::uint32_t value = 0;
  for (int i = count - 1; i >= 0; --i) value = value << 8 | bytes[i];
  return value;
}

// Rates a recording can sensibly have; outside them a header is wrong, and
// the envelope's arithmetic would be too.
constexpr std::uint32_t kLeastRate = 8000;
constexpr std::uint32_t kMostRate = 768000;

// Skips `size` bytes of a chunk and its pad byte. A chunk that claims to
// run past the end of the file ends the reading: a size of 2^31 or more is
// never taken as a step backwards.
bool skip_chunk(std::FILE* file, std::uint32_t size, std::int64_t file_size) {
  const off_t here = ftello(file);
  const std::int64_t next = static_cast<std::int64_t>(here) + size + (size & 1);
  return here >= 0 && next <= file_size && fseeko(file, static_cast<off_t>(next), SEEK_SET) == 0;
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
  std::uint32_t rate = 0;  // as the header gives it; only a sensible one is taken
  unsigned char chunk[8];
  while (std::fread(chunk, 1, 8, source.file) == 8) {
    const std::uint32_t size = little_endian(chunk + 4, 4);
    if (std::memcmp(chunk, "data", 4) == 0) {
      if (bits != 16 || source.channels < 1) {
        reason = "not 16-bit PCM";
        return false;
      }
      if (rate < kLeastRate || rate > kMostRate) {
        reason = "a sample rate of " + std::to_string(rate) + " Hz; kolvan-monitor reads " +
                 std::to_string(kLeastRate) + " to " + std::to_string(kMostRate) + " Hz";
        return false;
      }
      source.rate = static_cast<int>(rate);
      const std::int64_t rest = file_size - ftello(source.file);
      const std::int64_t bytes = size == 0 || size == 0xFFFFFFFFu || size > rest ? rest : size;
      source.samples_total = bytes / (2 * source.channels);
      return true;
    }
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      unsigned char format[16];
      if (size < 16 || std::fread(format, 1, 16, source.file) != 16) break;
      const std::uint32_t tag = little_endian(format, 2);
      source.channels = static_cast<int>(little_endian(format + 2, 2));
      rate = little_endian(format + 4, 4);
      bits = static_cast<int>(little_endian(format + 14, 2));
      if (tag != 1 && tag != 0xFFFE) bits = 0;  // PCM, or PCM in the extensible form
      if (!skip_chunk(source.file, size - 16, file_size)) break;
    } else if (!skip_chunk(source.file, size, file_size)) {
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

// Opens a regular file only: a FIFO would hang the monitor before it said
// anything, a device would be read without end. Opened without blocking, so
// that the check comes before any wait.
bool open_regular_file(AudioSource& source, const char* path, struct stat& info, std::string& reason) {
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0 || fstat(fd, &info) != 0) {
    reason = std::strerror(errno);
    if (fd >= 0) close(fd);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    reason = "not a regular file (a recording is read from a WAV file, a sound card with --audio)";
    close(fd);
    return false;
  }
  source.file = fcntl(fd, F_SETFL, 0) == 0 ? fdopen(fd, "rb") : nullptr;
  if (source.file == nullptr) {
    reason = std::strerror(errno);
    close(fd);
    return false;
  }
  return true;
}

// Microseconds since the epoch of a file time; one beyond any recording's
// (a file system's limits, a corrupt inode) counts as the epoch.
std::int64_t file_time_us(const timespec& time) {
  constexpr std::int64_t kFarSec = 100000000000;  // about 3000 years
  if (time.tv_sec > kFarSec || time.tv_sec < -kFarSec) return 0;
  return static_cast<std::int64_t>(time.tv_sec) * 1000000 + time.tv_nsec / 1000;
}

}  // namespace

bool open_wav_file(AudioSource& source, const char* path, std::string& reason) {
  source = AudioSource{};
  source.name = path;
  struct stat info {};
  if (!open_regular_file(source, path, info, reason)) return false;
  if (!read_header(source, info.st_size, reason) || source.channels > 16) {
    if (reason.empty()) reason = "more than 16 channels";
    close_wav(source);
    return false;
  }
  const std::int64_t modified_us = file_time_us(info.st_mtim);
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
