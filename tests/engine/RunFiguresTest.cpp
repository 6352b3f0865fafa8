// SPDX-License-Identifier: GPL-3.0-or-later
// Figures of whole runs: the MPX power read-out at every rate, the output saturation and its
// count, and a modulation at or above the sampling rate kept in tune over minutes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <vector>

#include "Modulator.h"
#include "Reference.h"
#include "TestSupport.h"

namespace kelvane {
namespace {

using Engine = test::EngineRun;
using test::SampleAt;

// dBr refers to the deviation in Hz: a 19 kHz-peak sine reads 0.0 and a 10 kHz one
// 20 log10(10 / 19) = -5.6 at every rate.
TEST_F(Engine, PowerReadingsAtEachRate) {
  for (const int rate : {192000, 96000, 48000, 44100}) {
    for (const auto& [peak, text] : {std::pair{19.0, "0.0"}, std::pair{10.0, "-5.6"}}) {
      c.Set(ParamId::SinePeakDev, peak);
      m.SetFrameRate(rate);
      m.BeginRun(SourceSine);
      EXPECT_STREQ(m.PowerReadout().text, "-90.0");
      RunSeconds(1.0);
      EXPECT_STREQ(m.PowerReadout().text, text) << rate << " Hz, " << peak << " kHz";
      EXPECT_FALSE(m.PowerReadout().green);
    }
  }
  c.Set(ParamId::SinePeakDev, 0);
  m.BeginRun(SourceSine);
  RunSeconds(2.0);
  EXPECT_EQ(m.State().PmCount, 2);
  EXPECT_STREQ(m.PowerReadout().text, "-90.0");
}

// The mean over the stored seconds: 10 s at 19 kHz peak, then 38 kHz (four times the power).
TEST_F(Engine, PowerRingTurnsGreenAtTheSixtiethSecond) {
  m.SetFrameRate(44100);
  m.BeginRun(SourceSine);
  c.Set(ParamId::SinePeakDev, 19);
  RunSeconds(10.0, 44100);
  EXPECT_EQ(m.State().PmCount, 10);
  EXPECT_FALSE(m.PowerReadout().green);
  EXPECT_STREQ(m.PowerReadout().text, "0.0");
  c.Set(ParamId::SinePeakDev, 38);
  RunSeconds(49.0, 44100);
  EXPECT_EQ(m.State().PmCount, 59);
  EXPECT_FALSE(m.PowerReadout().green);
  EXPECT_STREQ(m.PowerReadout().text, "5.4");  // 10 log10((10 + 49 x 4) / 59)
  RunSeconds(1.0, 44100);
  EXPECT_EQ(m.State().PmCount, 60);
  EXPECT_TRUE(m.PowerReadout().green);
  const unsigned serial = m.PowerReadout().serial;
  RunSeconds(5.0, 44100);
  EXPECT_TRUE(m.PowerReadout().green);
  EXPECT_GT(m.PowerReadout().serial, serial);
  EXPECT_STREQ(m.PowerReadout().text, "5.7");  // the latest 60: 10 log10((5 + 55 x 4) / 60)
  m.BeginRun(SourceSine);
  EXPECT_FALSE(m.PowerReadout().green);
  EXPECT_STREQ(m.PowerReadout().text, "-90.0");
  EXPECT_EQ(m.State().PmSamples, 0);
}

TEST_F(Engine, StrongReflectionSaturatesInsteadOfWrapping) {
  m.SetFrameRate(48000);
  m.BeginRun(SourceSine);
  c.Set(ParamId::SinePeakDev, 0);
  c.Set(ParamId::CarrierFreq, 1000);
  c.Set(ParamId::MaxOutputSwing, 100);
  c.Set(ParamId::MDelay, 3);
  c.Set(ParamId::MVoltage, 80);
  c.SetMultipath(true);
  RunSeconds(0.05);
  Run(4800);
  int lo = 0, hi = 0, maxStep = 0;
  for (int k = 0; k < 4800; ++k) {
    const int v = SampleAt(buf, k, 0);
    lo = std::min(lo, v);
    hi = std::max(hi, v);
    if (k > 0) maxStep = std::max(maxStep, std::abs(v - SampleAt(buf, k - 1, 0)));
  }
  EXPECT_EQ(hi, 32767);
  EXPECT_EQ(lo, -32768);
  // A 1 kHz carrier of ~1.8 x full scale moves at most ~7700 counts per sample; a wrap would
  // jump by tens of thousands.
  EXPECT_LT(maxStep, 9000);
  EXPECT_EQ(*std::max_element(m.State().CapOutI.begin(), m.State().CapOutI.end()), 32767.0f);
  EXPECT_EQ(*std::min_element(m.State().CapOutI.begin(), m.State().CapOutI.end()), -32768.0f);
}

// A still carrier (0 Hz, no modulation) at phase pi/4 with full swing and an undelayed 100 %
// reflection: each channel settles at 2 x 32766 x 0.7071 x 0.9991 = 46297 counts, so once the
// output filter has filled, every I and every Q sample is saturated and counted.
TEST_F(Engine, ClippedSamplesAreCountedPerChannel) {
  m.SetFrameRate(48000);
  m.BeginRun(SourceSine);
  RunSeconds(1.0);
  EXPECT_EQ(m.State().ClippedSamples, 0u);  // first-run settings never clip

  c.Set(ParamId::SinePeakDev, 0);
  c.Set(ParamId::MaxOutputSwing, 100);
  c.Set(ParamId::MDelay, 0);
  c.Set(ParamId::MVoltage, 100);
  c.SetMultipath(true);
  Run(100);  // clears the interpolator of the earlier modulation, which would move the phase
  const struct {
    double phase, offsetDeg;
    int perFrame, level;
  } steps[] = {
      {M_PI / 4, 0, 2, 32767},       // I and Q high
      {5 * M_PI / 4, 0, 2, -32768},  // I and Q low
      {M_PI / 4, -135, 1, 32767},    // Q = sin(pi/4 - pi/4) = 0: only I
  };
  for (const auto& step : steps) {
    c.Set(ParamId::LRPhaseOffset, step.offsetDeg);
    m.State().CarrierPhase = step.phase;
    Run(4800);  // the output filter fills from the previous state
    const std::uint64_t before = m.State().ClippedSamples;
    Run(4800);
    EXPECT_EQ(m.State().ClippedSamples - before, 4800u * step.perFrame) << step.phase;
    EXPECT_EQ(SampleAt(buf, 4799, 0), step.level);
    EXPECT_EQ(SampleAt(buf, 4799, 1), step.perFrame == 2 ? step.level : 0);
  }
  m.BeginRun(SourceSine);
  EXPECT_EQ(m.State().ClippedSamples, 0u);
}

// Instantaneous frequency in Hz of the output frames [first, first + n) of buf.
std::vector<double> Demodulate(const std::vector<uint8_t>& buf, int first, int n, int rate) {
  std::vector<double> f;
  for (int k = first; k < first + n; ++k) {
    // I = sin(phi), Q = cos(phi): the carrier phase is arg(Q + jI).
    const std::complex<double> z(SampleAt(buf, k, 1), SampleAt(buf, k, 0));
    const std::complex<double> p(SampleAt(buf, k - 1, 1), SampleAt(buf, k - 1, 0));
    f.push_back(std::arg(z * std::conj(p)) * rate / (2.0 * M_PI));
  }
  return f;
}

// 50000 Hz modulation at 48000 Hz is the 2000 Hz tone on the sampled grid. Its phase step is
// more than a turn: six minutes of signal must keep the phase within a turn and the tone at
// 2000 Hz with its 10 kHz deviation to the end.
TEST_F(Engine, ModulationAboveTheRateStaysInTuneForMinutes) {
  constexpr int kRate = 48000, kBlock = 65536;
  m.SetFrameRate(kRate);
  c.Set(ParamId::SineModFreq, 50000);
  m.BeginRun(SourceSine);
  const long total = 6L * 60 * kRate;
  double firstAmplitude = 0.0;
  for (long done = 0; done < total; done += kBlock) {
    Run(kBlock);
    const EngineState& s = m.State();
    ASSERT_GE(s.PilotPhase, 0.0f) << done;
    ASSERT_LT(s.PilotPhase, kTwoPiF) << done;
    ASSERT_LT(std::fabs(s.CarrierPhase), 2 * M_PI) << done;
    if (done == 0 || done + kBlock >= total) {
      const std::vector<double> f = Demodulate(buf, kBlock - kRate, kRate, kRate);
      int crossings = 0;
      for (int k = 1; k < kRate; ++k) crossings += (f[k - 1] < 0) != (f[k] < 0);
      EXPECT_NEAR(crossings, 4000, 1) << done / kRate << " s";
      const double amplitude = test::ToneAmplitude(f, 2000, kRate);
      EXPECT_NEAR(amplitude, 10000, 50) << done / kRate << " s";
      if (done == 0) firstAmplitude = amplitude;
      EXPECT_NEAR(amplitude, firstAmplitude, 1.0);
    }
  }
}

}  // namespace
}  // namespace kelvane
