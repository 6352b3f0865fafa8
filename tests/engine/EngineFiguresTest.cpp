// SPDX-License-Identifier: GPL-3.0-or-later
// Exact figures of the engine: amplitude rule, filter taps, RDS words, input queue, captures,
// the deviation read-out and the shape of the output.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "BlockParams.h"
#include "FastKernels.h"
#include "Filters.h"
#include "Modulator.h"
#include "Rds.h"
#include "Reference.h"
#include "TestSupport.h"

namespace kelvane {
namespace {

using ref::TestControls;
using test::SampleAt;

double D(float x) {
  return static_cast<double>(x);
}

ControlSnapshot Calibration(double swing, double gain, bool dc, double dcl, double dcr) {
  ControlSnapshot c = ControlSnapshot::FirstRun();
  c.params[ParamId::MaxOutputSwing] = swing;
  c.params[ParamId::LRGainRatio] = gain;
  c.params[ParamId::DCOffsetL] = dcl;
  c.params[ParamId::DCOffsetR] = dcr;
  c.dcCoupled = dc;
  return c;
}

TEST(AmplitudeRule, FiguresOfTheRule) {
  BlockParams b = MakeBlockParams(ControlSnapshot::FirstRun(), 48000, SourceSine);
  EXPECT_EQ(b.AmpI, 3276.0f);
  EXPECT_EQ(b.AmpQ, 3276.0f);
  b = MakeBlockParams(Calibration(10, 0.92, false, 50, 50), 48000, SourceSine);
  EXPECT_EQ(b.AmpQ, 3013.92f);
  b = MakeBlockParams(Calibration(100, 1, true, 90, 50), 48000, SourceSine);
  EXPECT_EQ(b.AmpI, 6552.0f);
  EXPECT_EQ(b.DCOffsetI, 26214.4f);
  EXPECT_EQ(b.DCOffsetQ, 0.0f);
  b = MakeBlockParams(Calibration(100, 2, false, 50, 50), 48000, SourceSine);
  EXPECT_EQ(b.AmpI, 16382.0f);
  EXPECT_EQ(b.AmpQ, 32764.0f);
  // A ratio of 1 or below never lowers the headroom.
  for (double g : {0.5, 0.92, 1.0}) {
    EXPECT_EQ(AmplitudeI(false, 50, 50, g, 100), 32766) << g;
  }
  EXPECT_EQ(AmplitudeI(true, 10, 90, 1, 100), 6552);
  EXPECT_EQ(AmplitudeI(false, 50, 50, 1, 1), 327);
}

TEST(BlockParamsTest, UnitsAndSwitches) {
  ControlSnapshot c = ControlSnapshot::FirstRun();
  c.params[ParamId::CarrierFreq] = -12000;
  c.params[ParamId::MDelay] = 7;
  c.stereo = true;
  BlockParams b = MakeBlockParams(c, 192000, SourceInput);
  EXPECT_NEAR(D(b.CarrierInc) * 192000.0 / M_PI, -12000.0, 1e-2);
  EXPECT_NEAR(D(b.PhaseInc) * 192000.0 / (2 * M_PI), 19000.0, 1e-2);
  EXPECT_NEAR(D(b.PilotDev) * 192000.0 / (2 * M_PI), 6800.0, 1e-2);
  EXPECT_NEAR(D(b.QPhase), M_PI / 2, 1e-6);
  EXPECT_EQ(b.DelaySamples, 7);
  EXPECT_TRUE(b.InputFilters);
  EXPECT_TRUE(b.PilotNotch);
  b = MakeBlockParams(c, 48000, SourceInput);
  EXPECT_FALSE(b.InputFilters);
  EXPECT_FALSE(b.PilotNotch);
  b = MakeBlockParams(c, 48000, SourceSine);
  EXPECT_NEAR(D(b.DevScale) * 48000.0 / (2 * M_PI), 10000.0, 1e-2);
  EXPECT_NEAR(D(b.PhaseInc) * 48000.0 / (2 * M_PI), 1000.0, 1e-3);
}

TEST(Filters, TapSumsAndSubstepZero) {
  EngineState s;
  float y = 0.0f;
  for (int i = 0; i < 18; ++i) y = MPXFIRAA(s, 1.0f);
  EXPECT_NEAR(y, 0.99942f, 1e-5f);
  float yi = 0.0f, yq = 0.0f;
  for (int frame = 0; frame < 38; ++frame) {
    EXPECT_EQ(RFFIR(s, 0, 0, 2.0f), 0.0f);
    EXPECT_EQ(RFFIR(s, 1, 0, 3.0f), 0.0f);
    yi = RFFIR(s, 0, 1, 2.0f);
    yq = RFFIR(s, 1, 1, 3.0f);
    if (frame < 37) {
      EXPECT_GT(std::fabs(yi - 2.0f * 0.99912f), 1e-4f) << frame;
    }
  }
  EXPECT_NEAR(yi, 2.0f * 0.99912f, 2e-5f);
  EXPECT_NEAR(yq, 3.0f * 0.99912f, 2e-5f);
}

TEST(Filters, ChannelsNeverMix) {
  EngineState s;
  double energyQ = 0.0, energyI = 0.0;
  for (int frame = 0; frame < 100; ++frame) {
    const float x = frame == 3 ? 1000.0f : 0.0f;
    RFFIR(s, 0, 0, x);
    RFFIR(s, 1, 0, 0.0f);
    energyI += D(std::fabs(RFFIR(s, 0, 1, 0.0f)));
    energyQ += D(std::fabs(RFFIR(s, 1, 1, 0.0f)));
  }
  EXPECT_GT(energyI, 500.0);
  EXPECT_EQ(energyQ, 0.0);
}

TEST(Rds, Checkwords) {
  EXPECT_EQ(RDSChecksum(0xFFFF), 0x0CD);
  EXPECT_EQ(RDSChecksum(0xFFFF) ^ RDSOffsetWord[0], 0x031);
  EXPECT_EQ(RDSChecksum(0x0408) ^ RDSOffsetWord[1], 0x1EB);
  EXPECT_EQ(RDSChecksum(0xCDCD) ^ RDSOffsetWord[2], 0x2B3);
  EXPECT_EQ(RDSChecksum(0x5053) ^ RDSOffsetWord[3], 0x11B);
}

TEST(Rds, PIText) {
  EXPECT_EQ(ParsePIText("FFFF"), 0xFFFF);
  EXPECT_EQ(ParsePIText("0000"), 0x0000);
  EXPECT_EQ(ParsePIText("abcd"), 0xABCD);
  EXPECT_EQ(ParsePIText("D3C2"), 0xD3C2);
  EXPECT_EQ(ParsePIText("12G4"), 0xFFFF);
  EXPECT_EQ(ParsePIText(" 123"), 0xFFFF);
  EXPECT_EQ(ParsePIText(""), 0xFFFF);
  EXPECT_EQ(ParsePIText("-1"), 0xFFFF);
}

TEST(Rds, PSPairs) {
  EXPECT_EQ(PSWord("PS Name", 0), 'P' * 256 + 'S');
  EXPECT_EQ(PSWord("PS Name", 1), ' ' * 256 + 'N');
  EXPECT_EQ(PSWord("PS Name", 2), 'a' * 256 + 'm');
  EXPECT_EQ(PSWord("PS Name", 3), 'e' * 256 + ' ');
  EXPECT_EQ(PSWord("", 2), 0x2020);
  EXPECT_EQ(PSWord("ABCDEFGHIJ", 3), 'G' * 256 + 'H');
}

// Decodes the differential stream of one cycle and checks every block word, the read counts of
// the PI and PS texts and the position of the check bits.
TEST(Rds, OneCycleOfGroups) {
  TestControls c;
  c.pi = "abcd";
  EngineState s;
  s.RDSDiffBit = true;
  bool prev = s.RDSDiffBit;
  std::vector<int> bits;
  std::vector<int> block2;
  for (int i = 0; i < 416; ++i) {
    GetNextRDSBit(s, c);
    bits.push_back(s.RDSDiffBit != prev);
    prev = s.RDSDiffBit;
    if (i % 26 == 0 && (i % 104) / 26 == 1) block2.push_back(s.RDSInfoWord);
    if (i % 26 == 16) {
      EXPECT_EQ(bits.back(), (s.RDSCheckWord >> 9) & 1) << i;
    }
  }
  EXPECT_EQ(s.RDSBitIndex, 0);
  EXPECT_EQ(block2, (std::vector<int>{0x0408, 0x0409, 0x040A, 0x040B}));
  EXPECT_EQ(c.piReads, 4);
  EXPECT_EQ(c.psReads, 4);
  const char* ps = "PS Name ";
  for (int g = 0; g < 4; ++g) {
    const int words[4] = {0xABCD, 0x0408 + g, 0xCDCD, ps[2 * g] * 256 + ps[2 * g + 1]};
    for (int b = 0; b < 4; ++b) {
      int info = 0, check = 0;
      for (int n = 0; n < 16; ++n) info = info * 2 + bits[g * 104 + b * 26 + n];
      for (int n = 16; n < 26; ++n) check = check * 2 + bits[g * 104 + b * 26 + n];
      EXPECT_EQ(info, words[b]) << g << b;
      EXPECT_EQ(check, RDSChecksum(words[b]) ^ RDSOffsetWord[b]) << g << b;
    }
  }
}

TEST(Rds, DiffBitHoldsOnZeroBitsAndTogglesOnOnes) {
  TestControls c;
  c.pi = "0000";
  EngineState s;
  // Block 1 of group 0 with PI 0000: 16 zero information bits, checkword 0x0FC.
  for (int n = 0; n < 16; ++n) {
    GetNextRDSBit(s, c);
    EXPECT_FALSE(s.RDSDiffBit) << n;
  }
  bool prev = s.RDSDiffBit;
  for (int n = 16; n < 26; ++n) {
    GetNextRDSBit(s, c);
    EXPECT_EQ(s.RDSDiffBit != prev, ((0x0FC >> (25 - n)) & 1) != 0) << n;
    prev = s.RDSDiffBit;
  }
}

TEST(InputQueue, EmptyReadsZeroAndPositionsStay) {
  InputSampleQueue q;
  q.AddSampleToBuffer(1234);
  EXPECT_EQ(q.ReadSampleFromBuffer(), 1234);
  EXPECT_EQ(q.SampleCount(), 0);
  // Slot 0 still holds 1234; an empty queue yields 0 instead of it.
  EXPECT_EQ(q.ReadSampleFromBuffer(), 0);
  EXPECT_EQ(q.InReadPos(), 1);
  EXPECT_EQ(q.InWritePos(), 1);
  int16_t out[4] = {9, 9, 9, 9};
  q.AddSampleToBuffer(-5);
  q.ReadSamples(out, 4);
  EXPECT_EQ(out[0], -5);
  EXPECT_EQ(out[1], 0);
  EXPECT_EQ(out[3], 0);
  EXPECT_EQ(q.InReadPos(), 2);
}

TEST(InputQueue, WrapPositions) {
  InputSampleQueue q;
  q.SetPositionsForTest(1151990, 10);
  EXPECT_EQ(q.SampleCount(), 20);
  for (int i = 0; i < 10; ++i) q.ReadSampleFromBuffer();
  EXPECT_EQ(q.InReadPos(), 0);
  EXPECT_EQ(q.SampleCount(), 10);
  // The bulk read wraps the same way.
  q.SetPositionsForTest(1151990, 10);
  std::vector<int16_t> out(20);
  q.ReadSamples(out.data(), 20);
  EXPECT_EQ(q.InReadPos(), 10);
  EXPECT_EQ(q.SampleCount(), 0);
}

TEST(InputQueue, FullQueueDropsSamplesAndWholeFrames) {
  InputSampleQueue q;
  for (int i = 0; i < InputSampleQueue::MaxSamples; ++i)
    q.AddSampleToBuffer(static_cast<int16_t>(i));
  EXPECT_EQ(q.SampleCount(), 1151999);
  q.AddSampleToBuffer(7);
  EXPECT_EQ(q.SampleCount(), 1151999);
  EXPECT_EQ(q.InWritePos(), 1151999);
  // One free slot is not enough for a frame: both samples are dropped.
  q.ReadSampleFromBuffer();
  q.ReadSampleFromBuffer();
  EXPECT_EQ(q.SampleCount(), 1151997);
  q.AddFrame(100, 200);
  EXPECT_EQ(q.SampleCount(), 1151999);
  q.AddFrame(300, 400);
  EXPECT_EQ(q.SampleCount(), 1151999);
}

TEST(Capture, LeftRightStayInOrderWhenTheQueueOverflows) {
  TestControls c;
  Modulator m(c);
  std::vector<int16_t> l(16384), r(16384);
  for (std::size_t i = 0; i < l.size(); ++i) {
    l[i] = 1000;
    r[i] = -1000;
  }
  const auto block = test::PackFrames(l, r);
  // Leave an odd number of free slots, then overflow.
  m.Queue().SetPositionsForTest(0, InputSampleQueue::MaxSamples - 5);
  m.AudioIn1BufferFilled(block.data(), static_cast<int>(block.size()));
  EXPECT_EQ(m.Queue().SampleCount(), InputSampleQueue::MaxSamples - 1);
  m.Queue().SetPositionsForTest(InputSampleQueue::MaxSamples - 5, InputSampleQueue::MaxSamples - 1);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(m.Queue().ReadSampleFromBuffer(), 1000);
    EXPECT_EQ(m.Queue().ReadSampleFromBuffer(), -1000);
  }
}

TEST(Capture, BlockCapturesAndLevels) {
  TestControls c;
  Modulator m(c);
  std::vector<int16_t> l(16384, 0), r(16384, 0);
  l[3] = -32768;
  r[700] = 16384;  // beyond the 512 captured frames but counted in the level
  for (int i = 0; i < 600; ++i) l[i] = static_cast<int16_t>(i == 3 ? -32768 : i);
  auto block = test::PackFrames(l, r);
  ASSERT_EQ(block.size(), 65536u);
  auto res = m.AudioIn1BufferFilled(block.data(), 65536);
  EXPECT_TRUE(res.keepGoing);
  EXPECT_EQ(m.Queue().SampleCount(), 32768);
  EXPECT_EQ(res.levelL, 1.0f);
  EXPECT_EQ(res.levelR, 0.5f);
  EXPECT_EQ(m.State().CapInL[3], -32768);
  EXPECT_EQ(m.State().CapInL[511], 511);
  EXPECT_EQ(m.Queue().ReadSampleFromBuffer(), 0);
  EXPECT_EQ(m.Queue().ReadSampleFromBuffer(), 0);
  EXPECT_EQ(m.Queue().ReadSampleFromBuffer(), 1);

  std::vector<uint8_t> silence(65536, 0);
  res = m.AudioIn1BufferFilled(silence.data(), 65536);
  EXPECT_EQ(res.levelL, 10.0f / 32768.0f);
  EXPECT_EQ(res.levelR, 10.0f / 32768.0f);
  const int before = m.Queue().SampleCount();
  res = m.AudioIn1BufferFilled(block.data(), 3);
  EXPECT_EQ(m.Queue().SampleCount(), before);
  EXPECT_EQ(res.levelL, 10.0f / 32768.0f);
  m.RequestStop();
  EXPECT_FALSE(m.AudioIn1BufferFilled(silence.data(), 4).keepGoing);
  m.BeginRun(SourceInput);
  EXPECT_EQ(m.State().CapInL[3], 0);
}

TEST(MeterText, FixedPointWithDot) {
  char t[16];
  FormatReading(-90.0, t, sizeof t);
  EXPECT_STREQ(t, "-90.0");
  FormatReading(0.0017, t, sizeof t);
  EXPECT_STREQ(t, "0.0");
  FormatReading(-0.04, t, sizeof t);
  EXPECT_STREQ(t, "0.0");
  FormatReading(74.998, t, sizeof t);
  EXPECT_STREQ(t, "75.0");
  FormatReading(12.777, t, sizeof t);
  EXPECT_STREQ(t, "12.8");
  FormatReading(-3.26, t, sizeof t);
  EXPECT_STREQ(t, "-3.3");
  FormatReading(12345.0, t, 4);
  EXPECT_STREQ(t, "123");
  // A locale with a decimal comma does not change the text.
  if (std::setlocale(LC_ALL, "de_DE.UTF-8") || std::setlocale(LC_ALL, "fr_FR.UTF-8")) {
    FormatReading(12.777, t, sizeof t);
    EXPECT_STREQ(t, "12.8");
    std::setlocale(LC_ALL, "C");
  }
}

using Engine = test::EngineRun;

TEST_F(Engine, BufferEdgesAndStop) {
  m.SetFrameRate(48000);
  std::vector<uint8_t> b(4097, 0xAB);
  const int size = 4097;
  // No source mode yet: nothing written.
  EXPECT_TRUE(m.AudioOut1FillBuffer(b.data(), size));
  EXPECT_TRUE(std::all_of(b.begin(), b.end(), [](uint8_t x) { return x == 0xAB; }));
  m.BeginRun(SourceSine);
  c.Set(ParamId::CarrierFreq, 1000);
  EXPECT_TRUE(m.AudioOut1FillBuffer(b.data(), size));
  EXPECT_EQ(b[4096], 0xAB);
  EXPECT_NE(b[4095], 0xAB);
  // A block of 300 frames updates capture entries 0..299 only.
  m.State().CapOutI.fill(-7.0f);
  m.State().CapMpx.fill(-7.0f);
  Run(300);
  EXPECT_NE(m.State().CapOutI[299], -7.0f);
  EXPECT_EQ(m.State().CapOutI[300], -7.0f);
  EXPECT_NE(m.State().CapMpx[299], -7.0f);
  EXPECT_EQ(m.State().CapMpx[300], -7.0f);
  EXPECT_EQ(m.State().CapOutI[10], SampleAt(buf, 10, 0));
  EXPECT_EQ(m.State().CapOutQ[10], SampleAt(buf, 10, 1));
  // After a stop request the call still fills the whole buffer, then reports false.
  m.RequestStop();
  std::fill(b.begin(), b.end(), 0xAB);
  EXPECT_FALSE(m.AudioOut1FillBuffer(b.data(), size));
  EXPECT_NE(b[4095], 0xAB);
  EXPECT_EQ(b[4096], 0xAB);
  const int tiny = 3;
  EXPECT_FALSE(m.AudioOut1FillBuffer(b.data(), tiny));
}

TEST_F(Engine, PureToneWithQuadratureAndCalibration) {
  m.SetFrameRate(48000);
  m.BeginRun(SourceSine);
  c.Set(ParamId::SinePeakDev, 0);
  c.Set(ParamId::CarrierFreq, 1000);
  c.Set(ParamId::LRPhaseOffset, 30);
  c.Set(ParamId::LRGainRatio, 0.5);
  RunSeconds(0.1);
  Run(48000);
  std::vector<double> xi, xq;
  for (int k = 0; k < 48000; ++k) {
    xi.push_back(SampleAt(buf, k, 0));
    xq.push_back(SampleAt(buf, k, 1));
  }
  // The output filter is flat within 0.1 % here.
  EXPECT_NEAR(test::ToneAmplitude(xi, 1000, 48000), 3276, 4.0);
  EXPECT_NEAR(test::ToneAmplitude(xq, 1000, 48000), 1638, 2.0);
  // Q = cos(phi + 30 deg) when I = sin(phi): the phase of Q leads I by 120 degrees.
  double re = 0;
  for (int k = 0; k < 48000; ++k) re += xi[k] * xq[k];
  const double corr = re / 48000 / (3276.0 * 1638.0 / 2);
  EXPECT_NEAR(corr, std::cos(120.0 * M_PI / 180.0), 0.01);
  // Negative offset: I and Q swap roles in the rotation, so Q lags.
  c.Set(ParamId::CarrierFreq, -1000);
  c.Set(ParamId::LRPhaseOffset, 0);
  c.Set(ParamId::LRGainRatio, 1);
  Run(480);
  Run(4800);
  double cross = 0;  // sum of I[k] * Q[k+1] - Q[k] * I[k+1] gives the rotation sense
  for (int k = 0; k + 1 < 4800; ++k) {
    cross += SampleAt(buf, k, 0) * double(SampleAt(buf, k + 1, 1)) -
             SampleAt(buf, k, 1) * double(SampleAt(buf, k + 1, 0));
  }
  EXPECT_GT(cross, 0.0);
  c.Set(ParamId::CarrierFreq, 1000);
  Run(480);
  Run(4800);
  cross = 0;
  for (int k = 0; k + 1 < 4800; ++k) {
    cross += SampleAt(buf, k, 0) * double(SampleAt(buf, k + 1, 1)) -
             SampleAt(buf, k, 1) * double(SampleAt(buf, k + 1, 0));
  }
  EXPECT_LT(cross, 0.0);
}

TEST_F(Engine, DcOffsetsShiftTheOutput) {
  m.SetFrameRate(44100);
  m.BeginRun(SourceSine);
  c.snap.dcCoupled = true;
  c.Set(ParamId::SinePeakDev, 0);
  c.Set(ParamId::CarrierFreq, 1000);
  c.Set(ParamId::DCOffsetL, 60);
  c.Set(ParamId::DCOffsetR, 40);
  RunSeconds(0.05);
  Run(44100);
  double mi = 0, mq = 0;
  for (int k = 0; k < 44100; ++k) {
    mi += SampleAt(buf, k, 0);
    mq += SampleAt(buf, k, 1);
  }
  EXPECT_NEAR(mi / 44100, 6553.6, 2.0);
  EXPECT_NEAR(mq / 44100, -6553.6, 2.0);
}

TEST_F(Engine, SineSourceIgnoresStereoAndRds) {
  TestControls c2;
  Modulator m2(c2);
  for (Modulator* x : {&m, &m2}) {
    x->SetFrameRate(192000);
    x->BeginRun(SourceSine);
  }
  c2.snap.stereo = true;
  c2.snap.rds = true;
  std::vector<uint8_t> a(40000), b(40000);
  const int size = 40000;
  m.AudioOut1FillBuffer(a.data(), size);
  m2.AudioOut1FillBuffer(b.data(), size);
  EXPECT_EQ(a, b);
  EXPECT_EQ(m2.State().RDSBitIndex, 0);
}

TEST_F(Engine, PeakDeviationReadout) {
  c.Set(ParamId::SinePeakDev, 75);
  char t[16];
  for (int rate : {44100, 48000, 96000, 192000}) {
    m.SetFrameRate(rate);
    m.BeginRun(SourceSine);
    RunSeconds(0.5);
    m.TakePeakDeviation(t, sizeof t);
    EXPECT_STREQ(t, "75.0") << rate;
    EXPECT_EQ(m.State().DevMax, 0.0f);
    EXPECT_EQ(m.State().DevMin, 0.0f);
  }
  m.TakePeakDeviation(t, sizeof t);
  EXPECT_STREQ(t, "0.0");
}

TEST_F(Engine, NegativePeakShowsItsMagnitude) {
  m.SetFrameRate(48000);
  m.BeginRun(SourceInput);
  std::vector<int16_t> l(4800), r(4800);
  for (int i = 0; i < 4800; ++i) {
    l[i] = r[i] = i < 2400 ? 500 : -1500;  // (L + R) x 1 Hz/step: +1.0 kHz, then -3.0 kHz
  }
  auto block = test::PackFrames(l, r);
  m.AudioIn1BufferFilled(block.data(), static_cast<int>(block.size()));
  Run(4800);
  char t[16];
  m.TakePeakDeviation(t, sizeof t);
  EXPECT_STREQ(t, "3.0");
}

TEST_F(Engine, ReflectionWithoutDelayDoublesTheCarrier) {
  m.SetFrameRate(48000);
  m.BeginRun(SourceSine);
  c.Set(ParamId::SinePeakDev, 0);
  c.Set(ParamId::CarrierFreq, 2000);
  c.Set(ParamId::MDelay, 0);
  c.Set(ParamId::MVoltage, 100);
  RunSeconds(0.05);
  Run(4800);
  std::vector<double> off;
  for (int k = 0; k < 4800; ++k) off.push_back(SampleAt(buf, k, 0));
  c.SetMultipath(true);
  Run(4800);
  std::vector<double> on;
  for (int k = 0; k < 4800; ++k) on.push_back(SampleAt(buf, k, 0));
  const double aOff = test::ToneAmplitude(off, 2000, 48000);
  const double aOn = test::ToneAmplitude(on, 2000, 48000);
  EXPECT_NEAR(aOn / aOff, 2.0, 1e-3);
}

TEST(Sines, WithinTwoTenthsOfAMillionth) {
  constexpr int n = 200000;
  std::vector<float> xf(n + 64), of(n + 64), oq(n + 64);
  std::vector<double> xd(n + 64);
  for (int i = 0; i < n; ++i) {
    xf[i] = -25.0f + 50.0f * static_cast<float>(i) / n;
    xd[i] = -12.6 + 25.2 * static_cast<double>(i) / n + 1e-9 * i;
  }
  fast::SinF(xf.data(), of.data(), n);
  fast::SinD(xd.data(), oq.data(), n);
  int exactF = 0, exactD = 0;
  double worst = 0;
  for (int i = 0; i < n; ++i) {
    const double tf = std::sin(static_cast<double>(xf[i]));
    const double td = std::sin(xd[i]);
    worst = std::max({worst, std::fabs(D(of[i]) - tf), std::fabs(D(oq[i]) - td)});
    exactF += of[i] == static_cast<float>(tf);
    exactD += oq[i] == static_cast<float>(td);
  }
  EXPECT_LT(worst, 2e-7);
  EXPECT_GE(exactF, n - 2);
  EXPECT_GE(exactD, n - 2);
  fast::SinDAdd(xd.data(), 1.0, oq.data(), n);
  for (int i = 0; i < n; i += 997) EXPECT_NEAR(D(oq[i]), std::sin(xd[i] + 1.0), 2e-7);
}

}  // namespace
}  // namespace kelvane
