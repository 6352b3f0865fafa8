// SPDX-License-Identifier: GPL-3.0-or-later
// I/Q recordings in: WAV (anything libsndfile reads), SigMF and raw ci16/cf32, brought to a
// working rate the receiver can afford.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "FmReceiver.h"

namespace kelvane::analysis {

enum class IqFileFormat { Auto, Wav, SigMF, Ci16, Cf32 };

// Parses a --format value (wav, sigmf, raw, ci16, cf32); false for anything else.
bool ParseIqFileFormat(const std::string& name, IqFileFormat& format);

struct IqReadOptions {
  IqFileFormat format = IqFileFormat::Auto;
  double rate_Hz = 0;   // raw files only: their sample rate
  double skip_s = 0;    // time to leave out at the start
  double length_s = 0;  // time to analyse; 0: to the end
};

// Rates from here up are brought down to kWorkingRate_Hz: an FM broadcast signal with any
// carrier offset Kelvane makes stays inside +-175 kHz, the converter's passband there.
inline constexpr double kWideRate_Hz = 400000;
inline constexpr int kWorkingRate_Hz = 384000;
inline constexpr double kMinRate_Hz = 44100;
inline constexpr double kMaxRate_Hz = 20e6;

// Collects interleaved I/Q frames (sample counts, full scale 32768) into a recording at the
// working rate: a wide rate goes through libsoxr (a real filter on I and Q alike, so the DC,
// gain ratio and phase error of the recording are kept), any other passes untouched.
class IqCollector {
 public:
  IqCollector(double inputRate_Hz, receiver::IqRecording& out);
  ~IqCollector();
  IqCollector(const IqCollector&) = delete;
  IqCollector& operator=(const IqCollector&) = delete;
  // False with a reason when the converter fails.
  bool Add(const float* frames, std::size_t count, std::string& error);
  bool Finish(std::string& error);
  // Room for this many input frames, so that long recordings are not copied while they grow.
  void Reserve(std::size_t inputFrames);
  bool Converts() const { return soxr_ != nullptr; }

 private:
  receiver::IqRecording& out_;
  double inputRate_Hz_;
  void* soxr_ = nullptr;
  std::unique_ptr<float[]> buffer_;
  std::size_t bufferFrames_ = 0;
};

struct IqFileInfo {
  std::string container;  // "WAV", "SigMF ci16_le", "raw ci16", ...
  double inputRate_Hz = 0;
  double fileSeconds = 0;      // length of the whole file
  double analysedSeconds = 0;  // after --skip and --length
};

// Reads the file (`path` may name a SigMF data or meta file or their common stem). False with
// a one-line reason naming the file when it cannot be read as 2-channel I/Q at 44100 Hz ..
// 20 MS/s, or when --skip leaves nothing.
bool ReadIqFile(const std::string& path, const IqReadOptions& options, receiver::IqRecording& out,
                IqFileInfo& info, std::string& error);

}  // namespace kelvane::analysis
