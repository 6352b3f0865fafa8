// SPDX-License-Identifier: GPL-3.0-or-later
// The resampler to the device rate: images of the engine's spectrum at least 80 dB down, the
// band itself passed at full level, and the I - jQ hand-over that puts +offset above the centre.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <vector>

#include "SdrResampler.h"

namespace kelvane::sdr {
namespace {

constexpr double kPi = 3.14159265358979323846;

// Hann-windowed amplitude of the complex tone at f in x.
double Amplitude(const std::vector<std::complex<double>>& x, double f, double rate) {
  std::complex<double> sum = 0;
  double wsum = 0;
  const double n = static_cast<double>(x.size());
  for (std::size_t k = 0; k < x.size(); ++k) {
    const double t = static_cast<double>(k);
    const double h = 0.5 - 0.5 * std::cos(2 * kPi * t / n);
    sum += h * x[k] * std::polar(1.0, -2 * kPi * f * t / rate);
    wsum += h;
  }
  return std::abs(sum) / wsum;
}

TEST(SdrResampler, ImagesAreAtLeast80dBDownAndTheBandPassesWhole) {
  const double in = 192000;
  double worstDb = -300;
  for (const double out : {2e6, 8e6}) {
    for (const double f : {-85000.0, -30000.0, 12000.0, 60000.0, 87000.0}) {
      SdrResampler r;
      std::string error;
      const std::size_t block = 960;
      ASSERT_TRUE(r.Open(in, out, block, error)) << error;
      std::vector<int16_t> frames(2 * block);
      std::vector<float> buf(2 * r.MaxOutFrames());
      std::vector<std::complex<double>> y;
      for (std::size_t first = 0; first < 57600; first += block) {
        for (std::size_t k = 0; k < block; ++k) {
          const double ph = 2 * kPi * f * static_cast<double>(first + k) / in;
          frames[2 * k] = static_cast<int16_t>(std::lround(29000 * std::cos(ph)));
          frames[2 * k + 1] = static_cast<int16_t>(std::lround(29000 * std::sin(ph)));
        }
        const std::size_t made = r.Process(frames.data(), block, buf.data());
        for (std::size_t k = 0; k < made; ++k) y.emplace_back(buf[2 * k], buf[2 * k + 1]);
      }
      // Past the filter's start: 0.1 s of steady output.
      y.erase(y.begin(), y.begin() + static_cast<long>(out / 10));
      y.resize(static_cast<std::size_t>(out / 10));
      // I + jQ at +f goes out as I - jQ, at -f.
      const double tone = Amplitude(y, -f, out);
      EXPECT_NEAR(20 * std::log10(tone / (29000 / 32768.0)), 0.0, 0.01) << f << " Hz at " << out;
      for (int k = -4; k <= 4; ++k) {
        if (k == 0) continue;
        const double image = -f + k * in;
        if (std::abs(image) >= out / 2) continue;
        const double db = 20 * std::log10(Amplitude(y, image, out) / tone);
        worstDb = std::max(worstDb, db);
        EXPECT_LT(db, -80) << "image at " << image << " Hz of " << f << " Hz, " << out << " S/s";
      }
    }
  }
  std::printf("resampler 192000 -> 2e6 / 8e6 S/s: strongest image %.1f dB\n", worstDb);
}

}  // namespace
}  // namespace kelvane::sdr
