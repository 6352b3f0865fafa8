// SPDX-License-Identifier: GPL-3.0-or-later
// The block-wise engine against the frame-by-frame reference over long runs of every feature
// combination: each output sample within one count, captures and meter fields within rounding.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "Modulator.h"
#include "Reference.h"
#include "TestSupport.h"

namespace kelvane {
namespace {

struct Case {
  std::string name;
  int rate = 48000;
  int source = SourceSine;
  bool stereo = false, rds = false, dc = false;
  double carrier = 0, gain = 1, phase = 0, swing = 10;
  int delay = 0;
  double voltage = 50;
  bool multipath = false;
  bool toggleMultipath = false;
  std::vector<int> blockBytes;
  double seconds = 2;
  double sinePeak = 10, sineFreq = 1000, sens = 3;
  int inputShortfall = 0;  // frames per block captured fewer than played (queue underrun)
};

std::ostream& operator<<(std::ostream& os, const Case& c) {
  return os << c.name;
}

// Deterministic programme material: tones, a sweep and noise, different on L and R.
class InputSignal {
 public:
  explicit InputSignal(int rate) : rate_(rate) {}
  void Next(int frames, std::vector<int16_t>& l, std::vector<int16_t>& r) {
    l.resize(frames);
    r.resize(frames);
    for (int i = 0; i < frames; ++i, ++n_) {
      const double t = static_cast<double>(n_) / rate_;
      seed_ = seed_ * 1664525u + 1013904223u;
      const double noise = (static_cast<double>(seed_ >> 8) / 16777216.0 - 0.5) * 600.0;
      const double a =
          6000 * std::sin(2 * M_PI * 440 * t) + 2500 * std::sin(2 * M_PI * (300 + 2000 * t) * t);
      const double b =
          5000 * std::sin(2 * M_PI * 1250 * t + 0.3) + 1500 * std::sin(2 * M_PI * 9000 * t);
      l[i] = static_cast<int16_t>(std::lround(a + noise));
      r[i] = static_cast<int16_t>(std::lround(b - noise));
    }
  }

 private:
  int rate_;
  long n_ = 0;
  uint32_t seed_ = 12345;
};

class Differential : public ::testing::TestWithParam<Case> {};

void ExpectStateClose(const EngineState& a, const EngineState& b) {
  for (const EngineState* s : {&a, &b}) {
    EXPECT_GE(s->PilotPhase, 0.0f);
    EXPECT_LT(s->PilotPhase, kTwoPiF);
    EXPECT_LT(std::fabs(s->CarrierPhase), 2 * M_PI);
  }
  EXPECT_EQ(a.PilotPhase, b.PilotPhase);
  EXPECT_NEAR(std::remainder(a.CarrierPhase - b.CarrierPhase, 2 * M_PI), 0.0, 1e-6);
  EXPECT_EQ(a.PilotCycleCount, b.PilotCycleCount);
  EXPECT_EQ(a.RDSBitIndex, b.RDSBitIndex);
  EXPECT_EQ(a.RDSDiffBit, b.RDSDiffBit);
  EXPECT_EQ(a.RDSInfoWord & 0xFFFF, b.RDSInfoWord & 0xFFFF);
  EXPECT_EQ(a.RDSCheckWord, b.RDSCheckWord);
  EXPECT_EQ(a.RDSImpulse, b.RDSImpulse);
  EXPECT_EQ(a.RDSShapeState, b.RDSShapeState);
  EXPECT_EQ(a.PilotNotchState, b.PilotNotchState);
  EXPECT_EQ(a.DCBlockState, b.DCBlockState);
  EXPECT_EQ(a.MPXAAIndex, b.MPXAAIndex);
  EXPECT_EQ(a.RFIndex, b.RFIndex);
  for (int i = 0; i < kMpxAATaps; ++i) {
    EXPECT_NEAR(a.MPXAARing[i], b.MPXAARing[i], 1e-6f * (1.0f + std::fabs(b.MPXAARing[i])));
  }
  for (int ch = 0; ch < 2; ++ch) {
    for (int i = 0; i < kRFTaps; ++i) EXPECT_NEAR(a.RFRing[ch][i], b.RFRing[ch][i], 0.5f);
    for (int i = 0; i < kDelayLength; ++i)
      EXPECT_NEAR(a.DelayLine[ch][i], b.DelayLine[ch][i], 1e-4f);
  }
  const float mpxTol = 1e-6f * (1.0f + std::fabs(b.DevMax) + std::fabs(b.DevMin));
  EXPECT_NEAR(a.DevMax, b.DevMax, mpxTol);
  EXPECT_NEAR(a.DevMin, b.DevMin, mpxTol);
  EXPECT_NEAR(a.PmAcc, b.PmAcc, 1e-9 * (1.0 + b.PmAcc));
  EXPECT_EQ(a.PmSamples, b.PmSamples);
  EXPECT_EQ(a.PmCount, b.PmCount);
  EXPECT_EQ(a.PmIndex, b.PmIndex);
  EXPECT_EQ(a.ClippedSamples, b.ClippedSamples);
  for (int i = 0; i < b.PmCount; ++i)
    EXPECT_NEAR(a.PmRing[i], b.PmRing[i], 1e-9 * (1.0 + b.PmRing[i]));
  for (int k = 0; k < kCaptureFrames; ++k) {
    EXPECT_NEAR(a.CapMpx[k], b.CapMpx[k], mpxTol) << k;
    EXPECT_NEAR(a.CapOutI[k], b.CapOutI[k], 1.0f) << k;
    EXPECT_NEAR(a.CapOutQ[k], b.CapOutQ[k], 1.0f) << k;
  }
}

TEST_P(Differential, MatchesReference) {
  const Case& k = GetParam();
  ref::TestControls c;
  c.pi = "D3C2";
  c.ps = "KELVANE";
  c.snap.stereo = k.stereo;
  c.snap.rds = k.rds;
  c.snap.dcCoupled = k.dc;
  c.Set(ParamId::CarrierFreq, k.carrier);
  c.Set(ParamId::LRGainRatio, k.gain);
  c.Set(ParamId::LRPhaseOffset, k.phase);
  c.Set(ParamId::MaxOutputSwing, k.swing);
  c.Set(ParamId::DCOffsetL, 63.7);
  c.Set(ParamId::DCOffsetR, 41.2);
  c.Set(ParamId::MDelay, k.delay);
  c.Set(ParamId::MVoltage, k.voltage);
  c.Set(ParamId::SinePeakDev, k.sinePeak);
  c.Set(ParamId::SineModFreq, k.sineFreq);
  c.Set(ParamId::ExtModSens, k.sens);
  c.Set(ParamId::StereoPhase, 4);
  c.Set(ParamId::RDSPhase, -12);
  c.Set(ParamId::StereoEffect, 106.5);
  c.SetMultipath(k.multipath);

  Modulator fast(c);
  ref::Modulator plain(c);
  fast.SetFrameRate(k.rate);
  plain.frameRate = k.rate;
  fast.BeginRun(k.source);
  plain.st.SourceMode = k.source;

  InputSignal input(k.rate);
  std::vector<int16_t> l, r;
  std::vector<uint8_t> outFast, outPlain;
  long framesLeft = static_cast<long>(k.seconds * k.rate);
  long framesDone = 0;
  int mismatches = 0, worst = 0;
  for (int block = 0; framesLeft > 0; ++block) {
    const int size = k.blockBytes[block % k.blockBytes.size()];
    const int frames = size / 4;
    if (k.source == SourceInput) {
      input.Next(std::max(0, frames - k.inputShortfall), l, r);
      const auto bytes = test::PackFrames(l, r);
      fast.AudioIn1BufferFilled(bytes.data(), static_cast<int>(bytes.size()));
      for (std::size_t i = 0; i < l.size(); ++i) {
        plain.queue.AddSampleToBuffer(l[i]);
        plain.queue.AddSampleToBuffer(r[i]);
      }
    }
    if (k.toggleMultipath && block % 3 == 2) c.SetMultipath(!c.MultipathFlag().load());
    if (block % 7 == 6) c.Set(ParamId::CarrierFreq, -k.carrier);  // acts from this block on
    if (block % 11 == 10) c.pi = c.pi == "D3C2" ? "12g4" : "D3C2";
    if (block % 13 == 12) c.ps = c.ps == "KELVANE" ? "Hi" : "KELVANE";
    outFast.assign(size, 0x5A);
    outPlain.assign(size, 0x5A);
    const bool a = fast.AudioOut1FillBuffer(outFast.data(), size);
    const bool b = plain.Fill(outPlain.data(), size);
    ASSERT_EQ(a, b);
    for (int f = 0; f < frames; ++f) {
      for (int ch = 0; ch < 2; ++ch) {
        const int d = std::abs(test::SampleAt(outFast, f, ch) - test::SampleAt(outPlain, f, ch));
        worst = std::max(worst, d);
        mismatches += d != 0;
        if (d > 1) {
          ADD_FAILURE() << "frame " << framesDone + f << " channel " << ch << ": "
                        << test::SampleAt(outFast, f, ch) << " vs "
                        << test::SampleAt(outPlain, f, ch);
          return;
        }
      }
    }
    for (int i = 4 * frames; i < size; ++i) ASSERT_EQ(outFast[i], 0x5A);
    framesLeft -= frames;
    framesDone += frames;
  }
  RecordProperty("frames", std::to_string(framesDone));
  RecordProperty("samples_off_by_one", std::to_string(mismatches));
  EXPECT_LE(worst, 1);
  ExpectStateClose(fast.State(), plain.st);
}

Case Make(std::string name, int rate, int source) {
  Case c;
  c.name = std::move(name);
  c.rate = rate;
  c.source = source;
  c.seconds = rate >= 192000 ? 3 : rate >= 96000 ? 4 : 5;
  return c;
}

std::vector<Case> Cases() {
  std::vector<Case> v;
  {
    Case c = Make("Sine48kOddBlocks", 48000, SourceSine);
    c.carrier = 5000;
    c.gain = 0.92;
    c.phase = -31;
    c.blockBytes = {4097, 1200, 8196};
    v.push_back(c);
  }
  {
    Case c = Make("Sine44kDcGainMultipathToggled", 44100, SourceSine);
    c.carrier = -12000;
    c.gain = 1.7;
    c.dc = true;
    c.swing = 60;
    c.delay = 7;
    c.voltage = 60;
    c.multipath = true;
    c.toggleMultipath = true;
    c.blockBytes = {8196, 65536, 1200};
    v.push_back(c);
  }
  {
    Case c = Make("Sine96kWideDeviation", 96000, SourceSine);
    c.carrier = 30000;
    c.sinePeak = 75;
    c.sineFreq = 15000;
    c.blockBytes = {131072};
    v.push_back(c);
  }
  {
    // A phase step of more than a turn: modulation above the rate, and a deviation so wide
    // that the carrier moves by more than a turn per sub-step.
    Case c = Make("Sine48kModulationAboveTheRate", 48000, SourceSine);
    c.sineFreq = 50000;
    c.blockBytes = {65536, 4100};
    v.push_back(c);
    c = Make("Sine44kDeviationBeyondATurn", 44100, SourceSine);
    c.sinePeak = 150;
    c.sineFreq = 700;
    c.carrier = 30000;
    c.blockBytes = {65536};
    v.push_back(c);
  }
  {
    Case c = Make("Sine192kStrongReflection", 192000, SourceSine);
    c.carrier = -30000;
    c.swing = 100;
    c.delay = 20;
    c.voltage = 100;
    c.multipath = true;
    c.blockBytes = {262144};
    v.push_back(c);
  }
  {
    Case c = Make("Input192kStereoRdsMultipath", 192000, SourceInput);
    c.stereo = c.rds = true;
    c.carrier = 7000;
    c.delay = 20;
    c.voltage = 100;
    c.multipath = true;
    c.toggleMultipath = true;
    c.blockBytes = {262144, 4097, 1200, 8196};
    v.push_back(c);
  }
  {
    Case c = Make("Input192kMonoRdsDelay0", 192000, SourceInput);
    c.rds = true;
    c.carrier = -2500;
    c.delay = 0;
    c.voltage = 30;
    c.multipath = true;
    c.gain = 1.3;
    c.blockBytes = {8200, 16388};
    v.push_back(c);
  }
  {
    Case c = Make("Input48kStereoMultipath", 48000, SourceInput);
    c.stereo = true;
    c.carrier = 12000;
    c.delay = 7;
    c.multipath = true;
    c.blockBytes = {65536};
    v.push_back(c);
  }
  {
    Case c = Make("Input96kMonoDcUnderrun", 96000, SourceInput);
    c.dc = true;
    c.gain = 2;
    c.swing = 100;
    c.carrier = -800;
    c.sens = 10;
    c.blockBytes = {131072, 4100};
    c.inputShortfall = 300;
    v.push_back(c);
  }
  {
    Case c = Make("Input44kStereoRds", 44100, SourceInput);
    c.stereo = c.rds = true;
    c.carrier = 3000;
    c.toggleMultipath = true;
    c.delay = 20;
    c.blockBytes = {65536, 2052};
    v.push_back(c);
  }
  return v;
}

INSTANTIATE_TEST_SUITE_P(Engine, Differential, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& p) { return p.param.name; });

}  // namespace
}  // namespace kelvane
