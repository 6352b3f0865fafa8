// Minimal, defensive WAV (RIFF PCM) reading and writing for the command-line tools.
#pragma once

#include <sys/types.h>

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

// Writes a 16-bit stereo WAV of a size known up front, so the header holds the final sizes
// from the start. A regular file (or a path that does not exist yet) is written into a
// temporary file beside it and renamed over it only on Commit, so a failed or interrupted run
// never leaves a half-written file under the target's name. A character device or a FIFO is
// written straight into: it is not ours to replace, and a reader on it gets a complete WAV
// without any seek. Symbolic links are followed; the link itself stays.
class WavWriter {
 public:
  WavWriter() = default;
  ~WavWriter();  // removes the temporary file unless committed
  WavWriter(const WavWriter&) = delete;
  WavWriter& operator=(const WavWriter&) = delete;

  // Opening a FIFO waits for its reader. Also removes temporary files that killed runs for
  // the same target left behind (see RemoveStaleParts).
  bool Open(const std::string& path, std::uint32_t sampleRate, std::uint64_t frames,
            std::string& error);
  bool Write(const std::uint8_t* data, std::size_t bytes, std::string& error);
  // Checks that exactly the announced frames were written, flushes and renames.
  bool Commit(std::string& error);
  void Abort();
  // True when writing straight into a device or FIFO (nothing to rename, nothing to undo).
  bool Direct() const { return direct_; }
  const std::string& TempPath() const { return tempPath_; }

 private:
  bool OpenDirect(std::string& error);
  bool OpenTemporary(const std::string& target, mode_t mode, std::string& error);
  bool Fail(std::string& error);

  std::FILE* file_ = nullptr;
  std::string path_;    // as given, for messages
  std::string target_;  // the file to rename over, links followed
  std::string tempPath_;
  bool direct_ = false;
  std::uint64_t expectedBytes_ = 0;
  std::uint64_t writtenBytes_ = 0;
};

// Removes `.NAME.part-XXXXXX` files of a target NAME in its folder that a killed render left:
// only regular files of exactly that pattern, owned by this user and not modified for
// olderThanSeconds, so that a render of the same target running beside us keeps its file.
void RemoveStaleParts(const std::string& target, int olderThanSeconds = 60);

}  // namespace kelvane::cli
