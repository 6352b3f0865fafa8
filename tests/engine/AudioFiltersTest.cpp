// SPDX-License-Identifier: GPL-3.0-or-later
// The pre-emphasis and the 15 kHz low-pass: design figures against the analogue shelf and the
// band limits, the effect on the multiplex and the meters, and the switch while running.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "AudioFilters.h"
#include "Modulator.h"
#include "Reference.h"
#include "TestSupport.h"

namespace kelvane {
namespace {

constexpr int kRates[] = {44100, 48000, 96000, 192000};

double Db(double ratio) {
  return 20.0 * std::log10(ratio);
}
// The analogue shelf |1 + j 2 pi f tau| in dB.
double AnalogueDb(double f, double tau) {
  const double x = 2.0 * M_PI * f * tau;
  return 10.0 * std::log10(1.0 + x * x);
}
double LowPassGain(const LowPassDesign& d, double f, double rate) {
  double re = 0.0, im = 0.0;
  for (int i = 0; i < d.taps; ++i) {
    re += static_cast<double>(d.h[i]) * std::cos(2.0 * M_PI * f * i / rate);
    im -= static_cast<double>(d.h[i]) * std::sin(2.0 * M_PI * f * i / rate);
  }
  return std::hypot(re, im);
}

TEST(AudioFilterDesign, EmphasisFollowsTheAnalogueShelfWithin0p1DbTo15kHz) {
  for (int rate : kRates) {
    for (int mode : {Emphasis50us, Emphasis75us}) {
      const double tau = EmphasisTau(mode);
      const EmphasisCoefs c = DesignEmphasis(tau, rate);
      EXPECT_NEAR(EmphasisGain(c, 0.0, rate), 1.0, 1e-9);
      for (double f : {1000.0, 2100.0, 5000.0, 10000.0, 15000.0}) {
        EXPECT_NEAR(Db(EmphasisGain(c, f, rate)), AnalogueDb(f, tau), 0.1)
            << rate << " Hz, " << tau * 1e6 << " us, " << f << " Hz";
      }
      double worst = 0.0;
      for (double f = 0.0; f <= 15000.0; f += 25.0) {
        worst = std::max(worst, std::fabs(Db(EmphasisGain(c, f, rate)) - AnalogueDb(f, tau)));
      }
      // Half the allowance at the hardest rate; near exact at the high rates.
      EXPECT_LT(worst, rate < 96000 ? 0.06 : 0.002) << rate << " Hz, " << tau * 1e6 << " us";
    }
  }
}

TEST(AudioFilterDesign, LowPassPassesTo15kHzAndRejects19kHzAndAbove) {
  for (int rate : {96000, 192000}) {
    const LowPassDesign d = DesignLowPass(rate);
    ASSERT_EQ(d.taps % 2, 1);
    ASSERT_LE(d.taps, kLowPassMaxTaps);
    for (int i = 0; i < d.taps; ++i) ASSERT_EQ(d.h[i], d.h[d.taps - 1 - i]);  // linear phase
    double lo = 1e9, hi = -1e9, stop = -1e9;
    for (double f = 0.0; f <= rate / 2.0; f += 10.0) {
      const double g = Db(LowPassGain(d, f, rate));
      if (f <= 15000.0) lo = std::min(lo, g), hi = std::max(hi, g);
      if (f >= 19000.0) stop = std::max(stop, g);
    }
    EXPECT_LE(hi - lo, 0.5) << rate;
    EXPECT_LE(stop, -50.0) << rate;
  }
  // No pilot band to keep clear at the low rates: the switch does nothing there.
  EXPECT_EQ(DesignLowPass(44100).taps, 0);
  EXPECT_EQ(DesignLowPass(48000).taps, 0);
}

// A run in blocks of the capture length, so the captured multiplex is the whole signal. The
// sound-card source is fed a sum of tones on both channels, captured again before each block.
class TracedRun {
 public:
  static constexpr int kBlock = kCaptureFrames;
  ref::TestControls c;
  Modulator m{c};
  std::vector<double> mpx;
  std::vector<double> tones;  // Hz, each at amplitude 6000 on L and R

  TracedRun(int rate, int source, int emphasis = EmphasisOff, bool lowPass = false) {
    c.Set(ParamId::SineModFreq, 3000);
    c.snap.programme.preEmphasis = emphasis;
    c.snap.programme.audioLowPass = lowPass;
    m.SetFrameRate(rate);
    m.BeginRun(source);
    source_ = source;
  }
  void Seconds(double s) {
    const int blocks = static_cast<int>(std::lround(s * m.FrameRate() / kBlock));
    std::vector<uint8_t> out(4 * kBlock);
    for (int b = 0; b < blocks; ++b) {
      if (source_ == SourceInput) {
        std::vector<int16_t> x(kBlock);
        for (int k = 0; k < kBlock; ++k, ++frame_) {
          double v = 0.0;
          for (double f : tones) v += 6000.0 * std::sin(2.0 * M_PI * f * frame_ / m.FrameRate());
          x[k] = static_cast<int16_t>(std::lround(v));
        }
        const std::vector<uint8_t> in = test::PackFrames(x, x);
        m.AudioIn1BufferFilled(in.data(), static_cast<int>(in.size()));
      }
      m.AudioOut1FillBuffer(out.data(), static_cast<int>(out.size()));
      const auto& cap = m.State().CapMpx;
      mpx.insert(mpx.end(), cap.begin(), cap.end());
    }
  }
  std::vector<double> Tail(double seconds) const {
    const auto n = static_cast<std::ptrdiff_t>(seconds * m.FrameRate());
    return std::vector<double>(mpx.end() - n, mpx.end());
  }

 private:
  int source_;
  long frame_ = 0;
};

double ParseKhz(const char* text) {
  return std::strtod(text, nullptr);
}

TEST(AudioFiltersRun, PeakDeviationMeterReadsTheEmphasisedSine) {
  // 10 kHz at the first-run 10 kHz deviation, 75 us: 13.66 dB up on the analogue shelf.
  constexpr int kRate = 192000;
  TracedRun r(kRate, SourceSine, Emphasis75us);
  r.c.Set(ParamId::SineModFreq, 10000);
  r.Seconds(0.1);
  char text[16];
  r.m.TakePeakDeviation(text, sizeof text);
  r.Seconds(0.3);
  r.m.TakePeakDeviation(text, sizeof text);
  const double analogue = 10.0 * std::pow(10.0, AnalogueDb(10000.0, 75e-6) / 20.0);  // 48.17
  EXPECT_NEAR(Db(ParseKhz(text) / analogue), 0.0, 0.1) << text;
  const double designed = 10.0 * EmphasisGain(DesignEmphasis(75e-6, kRate), 10000.0, kRate);
  EXPECT_NEAR(ParseKhz(text), designed, 0.1) << text;
}

TEST(AudioFiltersRun, SoundCardToneLevelsInTheMultiplex) {
  for (int rate : {96000, 192000}) {
    const std::vector<double> tones = {1000.0, 10000.0, 19500.0};
    auto levels = [&](int emphasis, bool lowPass) {
      TracedRun r(rate, SourceInput, emphasis, lowPass);
      r.tones = tones;
      r.Seconds(0.5);
      const std::vector<double> x = r.Tail(0.25);
      std::vector<double> out;
      for (double f : tones) out.push_back(test::ToneAmplitude(x, f, rate));
      return out;
    };
    const std::vector<double> plain = levels(EmphasisOff, false);
    const std::vector<double> limited = levels(EmphasisOff, true);
    const std::vector<double> emphasised = levels(Emphasis50us, false);
    EXPECT_NEAR(Db(limited[0] / plain[0]), 0.0, 0.5) << rate;
    EXPECT_NEAR(Db(limited[1] / plain[1]), 0.0, 0.5) << rate;
    EXPECT_LE(Db(limited[2] / plain[2]), -50.0) << rate;
    // Both channels emphasised ahead of the matrix (L + R here, stereo off).
    EXPECT_NEAR(Db(emphasised[0] / plain[0]), AnalogueDb(1000.0, 50e-6), 0.1) << rate;
    EXPECT_NEAR(Db(emphasised[1] / plain[1]), AnalogueDb(10000.0, 50e-6), 0.1) << rate;
  }
}

// A click is a step: it shows in the second difference of the multiplex, which for the steady
// tones here is small. Across changes while running that difference stays within a tenth above
// the largest of the settings' own steady states. (A hard switch from flat to 75 us at 500 Hz,
// or from the dry to the delayed filtered signal, makes it many times that.)
TEST(AudioFiltersRun, ChangesWhileRunningDoNotClick) {
  struct Step {
    int emphasis;
    bool lowPass;
  };
  const std::vector<Step> steps = {{EmphasisOff, false}, {Emphasis75us, false},
                                   {Emphasis50us, true}, {Emphasis75us, true},
                                   {EmphasisOff, true},  {EmphasisOff, false}};
  for (int source : {SourceSine, SourceInput}) {
    const int rate = source == SourceSine ? 48000 : 96000;
    TracedRun r(rate, source);
    r.c.Set(ParamId::SineModFreq, 500);
    r.tones = {500.0, 3000.0};
    double steady = 0.0, any = 0.0;
    for (const Step& s : steps) {
      r.c.snap.programme.preEmphasis = s.emphasis;
      r.c.snap.programme.audioLowPass = s.lowPass;
      const std::size_t from = r.mpx.size();
      r.Seconds(0.08);
      const std::size_t settled = from + (r.mpx.size() - from) / 2;
      for (std::size_t k = from + 2; k < r.mpx.size(); ++k) {
        const double d = std::fabs(r.mpx[k] - 2.0 * r.mpx[k - 1] + r.mpx[k - 2]);
        any = std::max(any, d);
        if (k > settled) steady = std::max(steady, d);
      }
    }
    EXPECT_LE(any, 1.1 * steady) << (source == SourceSine ? "sine" : "sound card");
  }
}

// Off again after being on: once the fade is over, the multiplex is the never-filtered one,
// bit for bit.
TEST(AudioFiltersRun, OffAgainReturnsTheUnfilteredMultiplexExactly) {
  for (int source : {SourceSine, SourceInput}) {
    const int rate = source == SourceSine ? 44100 : 192000;
    TracedRun plain(rate, source), toggled(rate, source, Emphasis75us, true);
    plain.tones = toggled.tones = {440.0, 17000.0};
    plain.Seconds(0.3);
    toggled.Seconds(0.1);
    const std::size_t switched = toggled.mpx.size();
    toggled.c.snap.programme.preEmphasis = EmphasisOff;
    toggled.c.snap.programme.audioLowPass = false;
    toggled.Seconds(0.2);
    ASSERT_EQ(plain.mpx.size(), toggled.mpx.size());
    const std::size_t faded = switched + static_cast<std::size_t>(rate / 100);
    EXPECT_NE(plain.mpx[switched / 2], toggled.mpx[switched / 2]);
    EXPECT_TRUE(std::equal(plain.mpx.begin() + static_cast<std::ptrdiff_t>(faded), plain.mpx.end(),
                           toggled.mpx.begin() + static_cast<std::ptrdiff_t>(faded)));
  }
}

}  // namespace
}  // namespace kelvane
