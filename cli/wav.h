// Minimal, defensive WAV (RIFF PCM) reading for the command-line tools.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "IqFileWriter.h"

namespace kelvane::cli {

struct WavFormat {
  std::uint16_t formatTag = 0;  // 1 PCM, 0xFFFE extensible (see pcm)
  std::uint16_t channels = 0;
  std::uint32_t sampleRate = 0;
  std::uint16_t bitsPerSample = 0;
  std::uint16_t blockAlign = 0;
  bool pcm = false;  // plain PCM, or extensible with the PCM sub-format
};

// Reads the sample data of a WAV file. Skips chunks it does not know (LIST, fact, ...),
// honours the pad byte after odd-sized chunks, and trusts the file's real length over a data
// size that claims more (as streaming writers leave it).
class WavReader {
 public:
  WavReader() = default;
  ~WavReader();
  WavReader(const WavReader&) = delete;
  WavReader& operator=(const WavReader&) = delete;

  // Opens and parses the headers; on failure returns false with a one-line reason.
  bool Open(const std::string& path, std::string& error);
  const WavFormat& Format() const { return format_; }
  std::uint64_t DataBytes() const { return dataBytes_; }
  // Reads up to `bytes` of sample data (whole frames only); 0 at the end. A read error
  // returns 0 and sets Failed().
  std::size_t Read(std::uint8_t* out, std::size_t bytes);
  bool Failed() const { return failed_; }

 private:
  std::FILE* file_ = nullptr;
  WavFormat format_;
  std::uint64_t dataBytes_ = 0;
  std::uint64_t dataLeft_ = 0;
  bool failed_ = false;
};

// The header helpers live with the recordings' writer.
using kelvane::kMaxWavDataBytes;
using kelvane::MakeWavHeader;

}  // namespace kelvane::cli
