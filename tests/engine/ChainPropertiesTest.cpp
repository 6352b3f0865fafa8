// SPDX-License-Identifier: GPL-3.0-or-later
// What the modulation chain does to the signal, seen by an ideal FM receiver: the interpolating
// filter's gain falls with frequency, so the pilot reads low and stereo separation is limited
// until the pilot-deviation and L-R-level corrections are applied.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <string>
#include <vector>

#include "Modulator.h"
#include "Reference.h"
#include "TestSupport.h"

namespace kelvane {
namespace {

using Cplx = std::complex<double>;

// Complex amplitude of frequency f in x (Hann window, amplitude-normalised).
Cplx Tone(const std::vector<double>& x, double f, double fs) {
  Cplx acc = 0.0;
  double wsum = 0.0;
  const std::size_t n = x.size();
  for (std::size_t i = 0; i < n; ++i) {
    const double h =
        0.5 - 0.5 * std::cos(2.0 * M_PI * static_cast<double>(i) / static_cast<double>(n));
    acc += h * x[i] * std::polar(1.0, -2.0 * M_PI * f * static_cast<double>(i) / fs);
    wsum += h;
  }
  return 2.0 * acc / wsum;
}

class Receiver : public ::testing::Test {
 protected:
  ref::TestControls c;
  Modulator m{c};
  static constexpr int kRate = 192000;

  void SetUp() override {
    m.SetFrameRate(kRate);
    c.Set(ParamId::MaxOutputSwing, 100);
  }

  // Runs `seconds` of output after a settling time and returns the FM-demodulated signal in Hz.
  std::vector<double> Demodulate(double seconds, const std::vector<int16_t>* left = nullptr,
                                 const std::vector<int16_t>* right = nullptr) {
    const int block = 65536 / 4;
    const int settle = kRate / 5;
    const int frames = static_cast<int>(seconds * kRate);
    std::vector<uint8_t> buf(4 * block);
    std::vector<double> out;
    Cplx prev = 0.0;
    int fed = 0;
    for (int done = 0; done < settle + frames; done += block) {
      if (left) {
        std::vector<int16_t> l(left->begin() + fed, left->begin() + fed + block);
        std::vector<int16_t> r(right->begin() + fed, right->begin() + fed + block);
        fed += block;
        const auto bytes = test::PackFrames(l, r);
        m.AudioIn1BufferFilled(bytes.data(), static_cast<int>(bytes.size()));
      }
      const int size = static_cast<int>(buf.size());
      m.AudioOut1FillBuffer(buf.data(), size);
      for (int k = 0; k < block; ++k) {
        const Cplx z(test::SampleAt(buf, k, 0), test::SampleAt(buf, k, 1));
        // I = sin(phi), Q = cos(phi): the carrier phase is arg(Q + jI).
        const Cplx zc(z.imag(), z.real());
        if (done + k >= settle && static_cast<int>(out.size()) < frames) {
          out.push_back(std::arg(zc * std::conj(prev)) * kRate / (2.0 * M_PI));
        }
        prev = zc;
      }
    }
    return out;
  }
};

TEST_F(Receiver, InterpolatorGainFallsWithFrequency) {
  const struct {
    double freq, gain, tol;
  } points[] = {
      {1000, 0.999, 0.002}, {19000, 0.985, 0.003}, {38000, 0.94, 0.01}, {57000, 0.86, 0.01}};
  c.Set(ParamId::SinePeakDev, 5);
  for (const auto& p : points) {
    c.Set(ParamId::SineModFreq, p.freq);
    m.BeginRun(SourceSine);
    const auto fm = Demodulate(0.25);
    const double gain = std::abs(Tone(fm, p.freq, kRate)) / 5000.0;
    RecordProperty("gain_" + std::to_string(static_cast<int>(p.freq)), std::to_string(gain));
    EXPECT_NEAR(gain, p.gain, p.tol) << p.freq;
  }
}

struct StereoResult {
  double pilotHz;
  double separationDb;
};

class Stereo : public Receiver {
 protected:
  StereoResult Measure() {
    c.snap.stereo = true;
    m.BeginRun(SourceInput);
    const int total = kRate * 2;
    std::vector<int16_t> l(total), r(total, 0);
    for (int i = 0; i < total; ++i) {
      l[i] = static_cast<int16_t>(std::lround(8000.0 * std::sin(2.0 * M_PI * 1000.0 * i / kRate)));
    }
    const auto fm = Demodulate(1.0, &l, &r);
    // Receiver: pilot from the signal itself, 38 kHz reference at twice its phase.
    const Cplx pilot = Tone(fm, 19000, kRate);
    const double pilotPhase = std::arg(pilot);  // fm ~ |p| cos(wt + phase)
    std::vector<double> product(fm.size());
    const Cplx sum = Tone(fm, 1000, kRate);
    // The subcarrier is sin(2 * pilot phase) when the pilot is sin(pilot phase): with the pilot
    // seen as cos(x + phase) = sin(x + phase + pi/2), the reference is sin(2x + 2 phase + pi).
    for (std::size_t i = 0; i < fm.size(); ++i) {
      const double t = static_cast<double>(i) / kRate;
      const double x = 2.0 * M_PI * 19000.0 * t + pilotPhase + M_PI / 2.0;
      product[i] = 2.0 * fm[i] * std::sin(2.0 * x);
    }
    const Cplx dif = Tone(product, 1000, kRate);
    const Cplx left = (sum + dif) / 2.0, right = (sum - dif) / 2.0;
    RecordProperty("pilot_hz", std::to_string(std::abs(pilot)));
    RecordProperty("separation_db",
                   std::to_string(20.0 * std::log10(std::abs(left) / std::abs(right))));
    return {std::abs(pilot), 20.0 * std::log10(std::abs(left) / std::abs(right))};
  }
};

TEST_F(Stereo, DefaultCorrectionsLimitSeparation) {
  const StereoResult r = Measure();
  EXPECT_NEAR(r.pilotHz / 6800.0, 0.985, 0.004);
  EXPECT_GT(r.separationDb, 25.0);
  EXPECT_LT(r.separationDb, 36.0);
}

TEST_F(Stereo, CorrectionsRestorePilotAndSeparation) {
  c.Set(ParamId::StereoEffect, 106.5);
  c.Set(ParamId::PilotDeviation, 6900);
  const StereoResult r = Measure();
  EXPECT_NEAR(r.pilotHz, 6800.0, 25.0);
  EXPECT_GT(r.separationDb, 60.0);
}

}  // namespace
}  // namespace kelvane
