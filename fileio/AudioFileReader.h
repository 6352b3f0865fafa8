// SPDX-License-Identifier: GPL-3.0-or-later
// An audio file (WAV, FLAC, Ogg/Vorbis, MP3, ... whatever libsndfile decodes) read as 16-bit
// stereo frames at a chosen rate: mono is sent to both channels, more than two channels are
// refused, and another rate is converted by libsoxr (high quality). A 16-bit file at the chosen
// rate is passed through untouched, sample for sample.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kelvane {

struct AudioFileInfo {
  int rate = 0;              // the file's own rate
  int channels = 0;          // 1 or 2
  std::int64_t frames = -1;  // at the file's rate; -1 when unknown (a stream)
  std::string format;        // e.g. "FLAC, 16 bit", for messages
};

class AudioFileReader {
 public:
  AudioFileReader();
  ~AudioFileReader();
  AudioFileReader(const AudioFileReader&) = delete;
  AudioFileReader& operator=(const AudioFileReader&) = delete;

  // Opens `path` ("-" reads standard input: WAV, or with rawRate > 0 raw 16-bit little-endian
  // stereo at that rate) for output at `targetRate`. False with a one-line reason naming the
  // file, e.g. "song.txt: not an audio file libsndfile can read".
  bool Open(const std::string& path, int targetRate, std::string& error, int rawRate = 0);
  const AudioFileInfo& Info() const;
  // At the end: start again from the beginning (true) or give nothing more (false, default).
  void SetLoop(bool loop);
  // Reads up to `frames` frames at the target rate into `out` (interleaved L, R); returns the
  // frames read, 0 at the end (without loop) or on an error (then Failed() and Error()).
  std::size_t Read(std::int16_t* out, std::size_t frames);
  bool Failed() const;
  const std::string& Error() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kelvane
