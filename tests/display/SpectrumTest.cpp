// SPDX-License-Identifier: GPL-3.0-or-later
// Hann window table, MakeFFT and the spectrum ordinates.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <vector>

#include "Spectrum.h"

namespace kelvane {
namespace {

constexpr int kN = 512;

TEST(FftWindowTest, UsesTheConstant6p2832AndDivisor16383) {
  const auto& w = FftWindow();
  EXPECT_EQ(w[0], 0.0f);
  for (int i : {1, 32, 4096, 8191, 8192, 16352, 16383}) {
    const float x = static_cast<float>(i * 6.2832 / 16383.0);
    const float expected = static_cast<float>(0.5 * (1.0 - std::cos(static_cast<double>(x))));
    EXPECT_EQ(w[static_cast<std::size_t>(i)], expected) << i;
  }
  // 6.2832 overshoots 2 pi a little, so the table does not close at 0.
  EXPECT_GT(w[16383], 0.0f);
  EXPECT_LT(w[16383], 1e-8f);
  // The last weight a 512-point transform uses is clearly non-zero.
  EXPECT_GT(w[16352], 1e-5f);
  EXPECT_NEAR(w[8191], 1.0f, 1e-6f);
}

TEST(MakeFftTest, ZerosGiveZeroMagnitudesAndEmptyOrdinates) {
  SpectrumAnalyzer fft;
  const std::vector<float> zeros(kN, 0.0f);
  ASSERT_TRUE(fft.MakeFFT(zeros, 0, 9));
  ASSERT_EQ(fft.FftMag().size(), static_cast<std::size_t>(kN));
  for (float m : fft.FftMag()) {
    EXPECT_EQ(m, 0.0f);
    EXPECT_EQ(MpxFftOrdinate(m), -40000.0f);
    EXPECT_EQ(OutputFftOrdinate(m), -40000.0f);
  }
}

TEST(MakeFftTest, DcLandsInBinZeroAsWindowSumTimesConstant) {
  SpectrumAnalyzer fft;
  constexpr double kDc = 1000.0;
  const std::vector<float> dc(kN, static_cast<float>(kDc));
  ASSERT_TRUE(fft.MakeFFT(dc, 0, 9));
  double windowSum = 0.0;
  for (int i = 0; i < kN; ++i) windowSum += static_cast<double>(FftWindow()[32u * i]);
  const auto& mag = fft.FftMag();
  EXPECT_NEAR(static_cast<double>(mag[0]), windowSum * kDc, windowSum * kDc * 1e-6);
  EXPECT_NEAR(windowSum, 256.0, 0.1);
  // Hann leakage: the two neighbours hold half of bin 0, the rest next to nothing.
  EXPECT_NEAR(static_cast<double>(mag[1]), windowSum * kDc / 2.0, windowSum * kDc * 1e-3);
  EXPECT_NEAR(static_cast<double>(mag[511]), windowSum * kDc / 2.0, windowSum * kDc * 1e-3);
  // The window does not quite close (6.2832 is not 2 pi): about -100 dB leaks further out.
  for (int i = 3; i < kN - 2; ++i) {
    EXPECT_LT(static_cast<double>(mag[static_cast<std::size_t>(i)]), windowSum * kDc * 1e-4) << i;
  }
}

TEST(MakeFftTest, FullScaleSineOnABinPlotsNear26200) {
  SpectrumAnalyzer fft;
  constexpr int kBin = 40;
  std::vector<float> sine(kN);
  for (int i = 0; i < kN; ++i) {
    sine[static_cast<std::size_t>(i)] =
        static_cast<float>(32767.0 * std::sin(2.0 * std::numbers::pi * kBin * i / kN));
  }
  ASSERT_TRUE(fft.MakeFFT(sine, 0, 9));
  const auto& mag = fft.FftMag();
  EXPECT_NEAR(static_cast<double>(mag[kBin]), 32767.0 * 512 / 4, 32767.0 * 512 / 4 * 0.002);
  // The mirror bin carries the same magnitude for real input.
  EXPECT_NEAR(static_cast<double>(mag[kN - kBin]), static_cast<double>(mag[kBin]), 1.0);
  EXPECT_NEAR(OutputFftOrdinate(mag[kBin]), 26200.0f, 50.0f);
  // Far from the peak only rounding noise remains, plotted below the view.
  EXPECT_EQ(OutputFftOrdinate(mag[kBin + 20]), -40000.0f);
}

TEST(MakeFftTest, MatchesADirectTransformForRandomInput) {
  // Catches a wrong bit reversal, butterfly order or twiddle angle.
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
  std::vector<float> x(64);
  for (float& v : x) v = dist(rng);
  SpectrumAnalyzer fft;
  ASSERT_TRUE(fft.MakeFFT(x, 0, 6));
  ASSERT_EQ(fft.FftMag().size(), 64u);
  const int step = kFftWindowSize / 64;
  for (int k = 0; k < 64; ++k) {
    std::complex<double> sum = 0.0;
    for (int i = 0; i < 64; ++i) {
      const double w = static_cast<double>(FftWindow()[static_cast<std::size_t>(i * step)]) *
                       static_cast<double>(x[static_cast<std::size_t>(i)]);
      sum += w * std::polar(1.0, 2.0 * std::numbers::pi * k * i / 64.0);
    }
    EXPECT_NEAR(static_cast<double>(fft.FftMag()[static_cast<std::size_t>(k)]), std::abs(sum), 1e-4)
        << k;
  }
}

TEST(MakeFftTest, UnmetPreconditionLeavesThePreviousResult) {
  SpectrumAnalyzer fft;
  std::vector<float> ramp(kN);
  for (int i = 0; i < kN; ++i) ramp[static_cast<std::size_t>(i)] = static_cast<float>(i);
  ASSERT_TRUE(fft.MakeFFT(ramp, 0, 9));
  const std::vector<float> before = fft.FftMag();

  const std::vector<float> other(kN, 5.0f);
  EXPECT_FALSE(fft.MakeFFT(other, 1, 9));   // start + N beyond the samples
  EXPECT_FALSE(fft.MakeFFT(other, -1, 8));  // negative start
  EXPECT_FALSE(fft.MakeFFT(other, 0, 10));  // longer than the samples
  std::vector<float> huge(1u << 15, 1.0f);
  EXPECT_FALSE(fft.MakeFFT(huge, 0, 15));  // longer than the window table serves
  EXPECT_EQ(fft.FftMag(), before);

  // A shorter transform from an offset is fine and resizes the result.
  EXPECT_TRUE(fft.MakeFFT(other, 256, 8));
  EXPECT_EQ(fft.FftMag().size(), 256u);
}

TEST(SpectrumOrdinateTest, LogScalesAndTheFloorBelowTheView) {
  EXPECT_FLOAT_EQ(MpxFftOrdinate(1.0f), -12000.0f);
  EXPECT_FLOAT_EQ(MpxFftOrdinate(100.0f), 20000.0f);
  EXPECT_FLOAT_EQ(OutputFftOrdinate(1e4f), 0.0f);
  EXPECT_FLOAT_EQ(OutputFftOrdinate(1e7f), 30000.0f);
  // Just inside the bottom of the view stays; anything below is parked at -40000.
  EXPECT_NEAR(OutputFftOrdinate(5.3f), -32757.24f, 0.05f);
  EXPECT_FLOAT_EQ(OutputFftOrdinate(10.0f), -30000.0f);
  EXPECT_EQ(OutputFftOrdinate(2.0f), -40000.0f);
  EXPECT_FLOAT_EQ(MpxFftOrdinate(0.1f), -28000.0f);
  EXPECT_EQ(MpxFftOrdinate(0.01f), -40000.0f);
  EXPECT_EQ(MpxFftOrdinate(-3.0f), -40000.0f);
  EXPECT_EQ(MpxFftOrdinate(std::nanf("")), -40000.0f);
  EXPECT_EQ(OutputFftOrdinate(std::nanf("")), -40000.0f);
}

}  // namespace
}  // namespace kelvane
