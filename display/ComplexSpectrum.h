// SPDX-License-Identifier: GPL-3.0-or-later
// Two-sided spectrum of the output as the complex signal I + jQ, and the image rejection that the
// gain and phase calibration leaves.
#pragma once

#include <optional>
#include <span>
#include <vector>

namespace kelvane {

struct ComplexSpectrum {
  // Level of bin k in dB relative to a full-scale (32768) complex tone, Hann-windowed; bin k is
  // at (k - size / 2) * binWidth_Hz, so the middle bin is 0 Hz.
  std::vector<float> level_dB;
  double binWidth_Hz = 0;
  // The strongest line away from 0 Hz (the carrier, plus its modulation) and its mirror image:
  // their power ratio in dB. None when the strongest line sits within two bins of 0 Hz.
  std::optional<double> carrier_Hz;
  std::optional<double> imageRejection_dB;
};

// Transforms the largest power of two of frames (at most 16384) of I and Q. Empty for fewer
// than 16 frames.
ComplexSpectrum MakeComplexSpectrum(std::span<const float> i, std::span<const float> q, int rate);

}  // namespace kelvane
