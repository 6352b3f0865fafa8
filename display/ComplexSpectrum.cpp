// SPDX-License-Identifier: GPL-3.0-or-later
// Two-sided spectrum of I + jQ (Hann window, radix-2 FFT) and the image rejection.
#include "ComplexSpectrum.h"

#include <algorithm>
#include <cmath>
#include <complex>

namespace kelvane {
namespace {

constexpr double kPi = 3.14159265358979323846;

void Fft(std::vector<std::complex<double>>& a) {
  const std::size_t n = a.size();
  for (std::size_t i = 1, j = 0; i < n; ++i) {
    std::size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  for (std::size_t len = 2; len <= n; len <<= 1) {
    const std::complex<double> w = std::polar(1.0, -2 * kPi / static_cast<double>(len));
    for (std::size_t i = 0; i < n; i += len) {
      std::complex<double> wk = 1;
      for (std::size_t k = 0; k < len / 2; ++k) {
        const std::complex<double> u = a[i + k], v = a[i + k + len / 2] * wk;
        a[i + k] = u + v;
        a[i + k + len / 2] = u - v;
        wk *= w;
      }
    }
  }
}

}  // namespace

ComplexSpectrum MakeComplexSpectrum(std::span<const float> i, std::span<const float> q, int rate) {
  ComplexSpectrum s;
  std::size_t size = 1;
  while (size * 2 <= std::min<std::size_t>({i.size(), q.size(), 16384})) size *= 2;
  if (size < 16 || rate <= 0) return s;
  std::vector<std::complex<double>> a(size);
  double wsum = 0;
  for (std::size_t n = 0; n < size; ++n) {
    const double w =
        0.5 - 0.5 * std::cos(2 * kPi * static_cast<double>(n) / static_cast<double>(size));
    a[n] = w * std::complex<double>(i[n], q[n]);
    wsum += w;
  }
  Fft(a);
  const std::size_t half = size / 2;
  std::vector<double> power(size);
  s.level_dB.resize(size);
  s.binWidth_Hz = static_cast<double>(rate) / static_cast<double>(size);
  for (std::size_t k = 0; k < size; ++k) {
    const std::complex<double> v = a[(k + half) % size] / (wsum * 32768.0);
    power[k] = std::norm(v);
    s.level_dB[k] = static_cast<float>(10 * std::log10(std::max(power[k], 1e-20)));
  }
  // The Hann window spreads a line over three bins: sum them.
  const auto line = [&](std::size_t k) { return power[k - 1] + power[k] + power[k + 1]; };
  // The carrier: the strongest line outside 0 Hz (where a DC offset sits) with a mirror bin.
  std::size_t peak = 0;
  for (std::size_t k = 2; k + 1 < size; ++k) {
    if (k + 2 >= half && k <= half + 2) continue;
    if (peak == 0 || power[k] > power[peak]) peak = k;
  }
  if (peak == 0) return s;
  const std::size_t mirror = size - peak;
  s.carrier_Hz = (static_cast<double>(peak) - static_cast<double>(half)) * s.binWidth_Hz;
  s.imageRejection_dB = 10 * std::log10(line(peak) / std::max(line(mirror), 1e-20));
  return s;
}

}  // namespace kelvane
