// SPDX-License-Identifier: GPL-3.0-or-later
// Engine-rate I/Q to the SDR's rate: libsoxr on the two channels (a real low-pass on I and Q
// alike is the complex one), float in, float out, allocated once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct soxr;

namespace kelvane::sdr {

class SdrResampler {
 public:
  SdrResampler() = default;
  ~SdrResampler();
  SdrResampler(const SdrResampler&) = delete;
  SdrResampler& operator=(const SdrResampler&) = delete;

  // Sets up the conversion for blocks of up to `maxInFrames`; false with `error` on failure.
  bool Open(double inRate, double outRate, std::size_t maxInFrames, std::string& error);
  // Output frames that one call with `inFrames` may give at most.
  std::size_t MaxOutFrames() const { return maxOut_; }
  // Converts interleaved 16-bit I/Q frames (full scale 32768 -> 1.0) to interleaved float
  // I, -Q at the device rate; returns the frames written to `out` (MaxOutFrames() of room).
  std::size_t Process(const int16_t* in, std::size_t inFrames, float* out);

 private:
  soxr* soxr_ = nullptr;
  float* scratch_ = nullptr;  // the input as float
  std::size_t maxIn_ = 0;
  std::size_t maxOut_ = 0;
};

}  // namespace kelvane::sdr
