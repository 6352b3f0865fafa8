// SPDX-License-Identifier: GPL-3.0-or-later
// I/Q recordings in the containers SDR tools read: WAV (16-bit, RF64 past 4 GiB), SigMF
// (NAME.sigmf-data with NAME.sigmf-meta, ci16_le or cf32_le), raw ci16 and raw cf32. A regular
// file appears under its name only when the recording is complete (written beside it and
// renamed); a device or FIFO is written into; a symbolic link is followed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kelvane {

enum class IqFormat { Wav, SigMF, SigMFcf32, Raw, Cf32 };

// The container from --format ("wav", "sigmf", "sigmf-cf32", "raw", "cf32"), or, when that is
// empty, from the name (".wav", ".sigmf", ".sigmf-data", ".sigmf-meta", ".raw"/".ci16"/".iq",
// ".cf32"/".cfile"; "-" is raw; any other name is WAV); nullopt with a one-line reason for an
// unknown --format.
std::optional<IqFormat> ChooseIqFormat(const std::string& path, const std::string& formatOption,
                                       std::string& error);

// What the SigMF metadata says of a recording.
struct IqMetadata {
  int sampleRate = 0;
  double startUtc = 0.0;                  // the first sample, seconds since 1970
  std::optional<double> centerFrequency;  // Hz, when the user gave one
  std::string description;
  std::string recorder;  // "kelvane <version>"; empty: this build's
  // Every setting as the settings file holds it, for the "kelvane:" namespace.
  std::vector<std::pair<std::string, std::string>> settings;
};

// Largest data chunk a plain WAV file can describe: the RIFF size field (file size - 8) is 32
// bits. Past it a recording is RF64 (a ds64 chunk holds the 64-bit sizes).
inline constexpr std::uint64_t kMaxWavDataBytes = 0xFFFFFFFFull - 36;

// The canonical 44-byte header of a 16-bit PCM file.
void MakeWavHeader(std::uint8_t out[44], std::uint32_t sampleRate, std::uint16_t channels,
                   std::uint32_t dataBytes);

// The SigMF metadata of a recording as JSON text; `cf32` chooses the datatype.
std::string SigMFMetaText(const IqMetadata& meta, bool cf32);

class IqFileWriter {
 public:
  IqFileWriter();
  ~IqFileWriter();  // removes what an unfinished recording left, unless committed
  IqFileWriter(const IqFileWriter&) = delete;
  IqFileWriter& operator=(const IqFileWriter&) = delete;

  // `frames` known up front (a WAV into a FIFO needs its sizes in the header), or -1: a WAV
  // file then gets its sizes (RIFF, or RF64 past the limit) at Commit, a WAV stream the
  // "unknown" sizes 0xFFFFFFFF. "-" is standard output (not for SigMF).
  bool Open(const std::string& path, IqFormat format, const IqMetadata& meta, std::int64_t frames,
            std::string& error);
  // 16-bit little-endian I/Q frames as the engine makes them.
  bool Write(const std::uint8_t* frames, std::size_t count, std::string& error);
  bool Commit(std::string& error);
  void Abort();
  std::uint64_t BytesWritten() const;
  // Written straight into a device, a FIFO or standard output (nothing to undo).
  bool Direct() const;
  // The last failed write met a reader that had gone (EPIPE on a pipe).
  bool ReaderGone() const;
  // The largest data chunk a plain WAV file gets before RF64 takes over; tests lower it.
  void SetWavLimit(std::uint64_t dataBytes);
  // The files a recording to `path` in `format` makes (SigMF: data and meta).
  static std::vector<std::string> OutputNames(const std::string& path, IqFormat format);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kelvane
