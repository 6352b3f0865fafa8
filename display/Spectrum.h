// SPDX-License-Identifier: GPL-3.0-or-later
// Magnitude spectrum (Hann-windowed radix-2 FFT) and the plot ordinates of the two spectrum views.
#pragma once

#include <array>
#include <span>
#include <vector>

namespace kelvane {

inline constexpr int kFftWindowSize = 16384;
// The window table has one entry per point of the longest transform it can serve.
inline constexpr int kFftMaxLog2N = 14;
// Ordinate of an empty or out-of-range bin: below the view's -32768 .. 32768 range.
inline constexpr float kBelowView = -40000.0f;

// Hann window shared by every transform length, built on first use.
const std::array<float, kFftWindowSize>& FftWindow();

class SpectrumAnalyzer {
 public:
  // Transforms samples[start .. start + 2^log2N - 1] into FftMag. Returns false, leaving FftMag
  // as it was, when that range does not lie inside samples or log2N is outside 0 .. 14.
  bool MakeFFT(std::span<const float> samples, int start, int log2N);

  // Magnitude per bin of the last successful transform (empty before the first one).
  const std::vector<float>& FftMag() const { return fftMag_; }

 private:
  std::vector<float> fftMag_;
  // Working arrays, kept between calls only to avoid reallocating them on every repaint.
  std::vector<float> windowed_;
  std::vector<float> re_;
  std::vector<float> im_;
};

// Plot ordinate of one bin in the "MPX FFT" view (800 units per dB).
float MpxFftOrdinate(float magnitude);
// Plot ordinate of one bin in the "Output FFT" view (500 units per dB).
float OutputFftOrdinate(float magnitude);

}  // namespace kelvane
