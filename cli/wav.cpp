// WAV reader, tolerant of extra chunks and padding.
#include "wav.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace kelvane::cli {
namespace {

std::uint16_t Le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
// The PCM sub-format GUID of WAVE_FORMAT_EXTENSIBLE after its leading 16-bit format code.
constexpr std::uint8_t kPcmGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                           0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

std::string Reason() {
  return std::strerror(errno);
}

}  // namespace

WavReader::~WavReader() {
  if (file_) std::fclose(file_);
}

bool WavReader::Open(const std::string& path, std::string& error) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    error = path + ": " + Reason();
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    error = path + ": not a regular file";
    return false;
  }
  file_ = std::fopen(path.c_str(), "rb");
  if (!file_) {
    error = path + ": " + Reason();
    return false;
  }
  const std::uint64_t fileSize = static_cast<std::uint64_t>(st.st_size);
  std::uint8_t riff[12];
  if (std::fread(riff, 1, 12, file_) != 12 || std::memcmp(riff, "RIFF", 4) != 0 ||
      std::memcmp(riff + 8, "WAVE", 4) != 0) {
    error = path + ": not a WAV file";
    return false;
  }
  std::uint64_t pos = 12;
  bool haveFormat = false;
  std::uint64_t dataStart = 0;
  bool haveData = false;
  while (pos + 8 <= fileSize && !(haveFormat && haveData)) {
    std::uint8_t head[8];
    if (::fseeko(file_, static_cast<off_t>(pos), SEEK_SET) != 0 ||
        std::fread(head, 1, 8, file_) != 8) {
      break;
    }
    const std::uint64_t size = Le32(head + 4);
    const std::uint64_t body = pos + 8;
    if (std::memcmp(head, "fmt ", 4) == 0 && !haveFormat) {
      std::uint8_t fmt[40] = {};
      const std::size_t want = size < sizeof fmt ? static_cast<std::size_t>(size) : sizeof fmt;
      if (size < 16 || std::fread(fmt, 1, want, file_) != want) {
        error = path + ": damaged format chunk";
        return false;
      }
      format_.formatTag = Le16(fmt);
      format_.channels = Le16(fmt + 2);
      format_.sampleRate = Le32(fmt + 4);
      format_.blockAlign = Le16(fmt + 12);
      format_.bitsPerSample = Le16(fmt + 14);
      format_.pcm = format_.formatTag == 1;
      if (format_.formatTag == 0xFFFE && want >= 40 && Le16(fmt + 16) >= 22) {
        format_.pcm = Le16(fmt + 24) == 1 && std::memcmp(fmt + 26, kPcmGuidTail, 14) == 0;
      }
      haveFormat = true;
    } else if (std::memcmp(head, "data", 4) == 0 && !haveData) {
      dataStart = body;
      // A size that runs past the end (or the 0xFFFFFFFF of a streaming writer): take what
      // the file holds.
      dataBytes_ = body + size <= fileSize ? size : fileSize - body;
      haveData = true;
    }
    pos = body + size + (size & 1);  // chunks are padded to an even length
  }
  if (!haveFormat) {
    error = path + ": no format chunk";
    return false;
  }
  if (!haveData) {
    error = path + ": no data chunk";
    return false;
  }
  if (format_.channels == 0 || format_.blockAlign == 0) {
    error = path + ": damaged format chunk";
    return false;
  }
  dataBytes_ -= dataBytes_ % format_.blockAlign;  // whole frames only
  dataLeft_ = dataBytes_;
  if (::fseeko(file_, static_cast<off_t>(dataStart), SEEK_SET) != 0) {
    error = path + ": " + Reason();
    return false;
  }
  return true;
}

std::size_t WavReader::Read(std::uint8_t* out, std::size_t bytes) {
  if (!file_ || failed_) return 0;
  std::uint64_t want = bytes < dataLeft_ ? bytes : dataLeft_;
  want -= want % (format_.blockAlign ? format_.blockAlign : 1);
  if (want == 0) return 0;
  const std::size_t got = std::fread(out, 1, static_cast<std::size_t>(want), file_);
  if (got != want) {
    // The file shrank or could not be read: stop here rather than feed a split frame.
    failed_ = std::ferror(file_) != 0;
    dataLeft_ = 0;
    return got - got % format_.blockAlign;
  }
  dataLeft_ -= got;
  return got;
}

}  // namespace kelvane::cli
