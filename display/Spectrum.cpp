// SPDX-License-Identifier: GPL-3.0-or-later
// Hann-windowed radix-2 FFT over 32-bit floats; sine and cosine are evaluated per butterfly.
#include "Spectrum.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <numbers>

namespace kelvane {
namespace {

// True when bit n (modulo 32) of value is set.
bool BitIsSet(int32_t value, int n) {
  return ((static_cast<uint32_t>(value) >> (static_cast<unsigned>(n) & 31u)) & 1u) != 0;
}

std::array<float, kFftWindowSize> BuildWindow() {
  std::array<float, kFftWindowSize> table{};
  for (int i = 0; i < kFftWindowSize; ++i) {
    // 6.2832 and 16383 (not 2 pi and 16384): the last entry is close to, but not exactly, 0.
    const float x = static_cast<float>(i * 6.2832 / 16383.0);
    table[static_cast<std::size_t>(i)] =
        static_cast<float>(0.5 * (1.0 - std::cos(static_cast<double>(x))));
  }
  return table;
}

// Ordinates below the visible range, or not numbers at all, are parked below the view.
float ParkBelowView(double y) {
  return y >= -32768.0 ? static_cast<float>(y) : kBelowView;
}

}  // namespace

const std::array<float, kFftWindowSize>& FftWindow() {
  static const std::array<float, kFftWindowSize> table = BuildWindow();
  return table;
}

bool SpectrumAnalyzer::MakeFFT(std::span<const float> samples, int start, int log2N) {
  if (log2N < 0 || log2N > kFftMaxLog2N || start < 0) return false;
  const int n = 1 << log2N;
  if (static_cast<std::size_t>(start) + static_cast<std::size_t>(n) > samples.size()) return false;

  const auto count = static_cast<std::size_t>(n);
  windowed_.resize(count);
  re_.resize(count);
  im_.resize(count);

  const auto& window = FftWindow();
  const float step = static_cast<float>(kFftWindowSize) / static_cast<float>(n);
  for (int i = 0; i < n; ++i) {
    const auto tap = static_cast<std::size_t>(static_cast<float>(i) * step);
    windowed_[static_cast<std::size_t>(i)] =
        window[tap] * samples[static_cast<std::size_t>(start + i)];
  }

  for (int i = 0; i < n; ++i) {
    int reversed = 0;
    for (int k = 0; k < log2N; ++k) {
      if (BitIsSet(i, k)) reversed |= 1 << (log2N - 1 - k);
    }
    re_[static_cast<std::size_t>(i)] = windowed_[static_cast<std::size_t>(reversed)];
    im_[static_cast<std::size_t>(i)] = 0.0f;
  }

  for (int r = 0; r < log2N; ++r) {
    const int half = 1 << r;
    for (int g = 0; g < n; g += 2 * half) {
      for (int k = 0; k < half; ++k) {
        const float theta = static_cast<float>(k * std::numbers::pi / half);
        const float c = static_cast<float>(std::cos(static_cast<double>(theta)));
        const float s = static_cast<float>(std::sin(static_cast<double>(theta)));
        const auto j = static_cast<std::size_t>(g + k);
        const auto j2 = j + static_cast<std::size_t>(half);
        // Each product of two floats is exact in double, so one rounding per result remains.
        const float tr = static_cast<float>(static_cast<double>(c) * static_cast<double>(re_[j2]) -
                                            static_cast<double>(s) * static_cast<double>(im_[j2]));
        const float ti = static_cast<float>(static_cast<double>(c) * static_cast<double>(im_[j2]) +
                                            static_cast<double>(s) * static_cast<double>(re_[j2]));
        re_[j2] = re_[j] - tr;
        im_[j2] = im_[j] - ti;
        re_[j] = re_[j] + tr;
        im_[j] = im_[j] + ti;
      }
    }
  }

  fftMag_.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    const double re = static_cast<double>(re_[i]);
    const double im = static_cast<double>(im_[i]);
    fftMag_[i] = static_cast<float>(std::sqrt(re * re + im * im));
  }
  return true;
}

float MpxFftOrdinate(float magnitude) {
  if (!(magnitude > 0.0f)) return kBelowView;
  return ParkBelowView(16000.0 * std::log10(static_cast<double>(magnitude)) - 12000.0);
}

float OutputFftOrdinate(float magnitude) {
  if (!(magnitude > 0.0f)) return kBelowView;
  return ParkBelowView(10000.0 * std::log10(static_cast<double>(magnitude)) - 40000.0);
}

}  // namespace kelvane
