// Minimal, defensive WAV (RIFF PCM) reading and writing for the command-line tools.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

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

// Largest data chunk a WAV file can describe: the RIFF size field (file size - 8) is 32 bits.
inline constexpr std::uint64_t kMaxWavDataBytes = 0xFFFFFFFFull - 36;

// The canonical 44-byte header of a 16-bit PCM file.
void MakeWavHeader(std::uint8_t out[44], std::uint32_t sampleRate, std::uint16_t channels,
                   std::uint32_t dataBytes);

// Writes a 16-bit stereo WAV of a size known up front into a temporary file beside the target,
// and renames it over the target only on Commit, so a failed or interrupted run never leaves
// a half-written file under the target's name.
class WavWriter {
 public:
  WavWriter() = default;
  ~WavWriter();  // removes the temporary file unless committed
  WavWriter(const WavWriter&) = delete;
  WavWriter& operator=(const WavWriter&) = delete;

  bool Open(const std::string& path, std::uint32_t sampleRate, std::uint64_t frames,
            std::string& error);
  bool Write(const std::uint8_t* data, std::size_t bytes, std::string& error);
  // Checks that exactly the announced frames were written, flushes and renames.
  bool Commit(std::string& error);
  void Abort();
  const std::string& TempPath() const { return tempPath_; }

 private:
  std::FILE* file_ = nullptr;
  std::string path_;
  std::string tempPath_;
  std::uint64_t expectedBytes_ = 0;
  std::uint64_t writtenBytes_ = 0;
};

}  // namespace kelvane::cli
