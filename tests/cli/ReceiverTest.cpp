// SPDX-License-Identifier: GPL-3.0-or-later
// Rendered files judged by the independent reference receiver: calibration, deviation, pilot,
// stereo separation and RDS, end to end through the real kelvane-cli.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "CliRun.h"
#include "FmReceiver.h"
#include "TempDir.h"

namespace kelvane::receiver {
namespace {

using kelvane::testing::ReadFile;
using kelvane::testing::TempDir;
using kelvane::testing::WriteFile;

constexpr double kPi = 3.14159265358979323846;
constexpr int kRate = 192000;

// Runs kelvane-cli render with a private config folder; returns its exit status and fills
// `out` with its standard output and error.
int Render(const TempDir& tmp, const std::vector<std::string>& args, std::string& out) {
  std::vector<std::string> all = {"render"};
  all.insert(all.end(), args.begin(), args.end());
  const cli::RunResult r = cli::RunCli(tmp, all);
  out = r.out + r.err;
  return r.status;
}

// A 16-bit stereo WAV at 192000 Hz: a tone on the left and another on the right.
void WriteStereoInput(const std::string& path, double seconds, double leftHz, double leftAmp,
                      double rightHz, double rightAmp) {
  const auto frames = static_cast<std::uint32_t>(seconds * kRate);
  std::string data;
  data.reserve(frames * 4);
  const auto put16 = [&](std::string& s, long v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
  };
  const auto put32 = [&](std::string& s, std::uint32_t v) {
    for (int k = 0; k < 4; ++k) s += static_cast<char>((v >> (8 * k)) & 0xFF);
  };
  for (std::uint32_t n = 0; n < frames; ++n) {
    const double t = static_cast<double>(n) / kRate;
    put16(data, std::lround(leftAmp * std::sin(2 * kPi * leftHz * t)));
    put16(data, std::lround(rightAmp * std::sin(2 * kPi * rightHz * t)));
  }
  std::string wav = "RIFF";
  put32(wav, 36 + static_cast<std::uint32_t>(data.size()));
  wav += "WAVEfmt ";
  put32(wav, 16);
  put16(wav, 1);
  put16(wav, 2);
  put32(wav, kRate);
  put32(wav, kRate * 4);
  put16(wav, 4);
  put16(wav, 16);
  wav += "data";
  put32(wav, static_cast<std::uint32_t>(data.size()));
  WriteFile(path, wav + data);
}

double Db(double ratio) {
  return 20 * std::log10(ratio);
}

// --- The receiver's own parts, on signals whose content is known exactly. ---

TEST(RdsBlockCode, CheckwordsFollowFromTheGeneratorPolynomial) {
  // Information words of a type 0A group and their checkwords with the offset added.
  EXPECT_EQ(Checkword(0xFFFF), 0x0CD);
  EXPECT_EQ(Checkword(0xFFFF) ^ kOffsetWords[kOffsetA], 0x031);
  EXPECT_EQ(Checkword(0x0408) ^ kOffsetWords[kOffsetB], 0x1EB);
  EXPECT_EQ(Checkword(0xCDCD) ^ kOffsetWords[kOffsetC], 0x2B3);
  EXPECT_EQ(Checkword(0x5053) ^ kOffsetWords[kOffsetD], 0x11B);
  // The code is cyclic: every error burst of up to ten bits moves the syndrome off the
  // block's own offset word.
  const std::uint32_t block = (0x5053u << 10) | (Checkword(0x5053) ^ kOffsetWords[kOffsetD]);
  EXPECT_EQ(Syndrome(block), kOffsetWords[kOffsetD]);
  int missed = 0;
  for (int start = 0; start <= 16; ++start) {
    for (std::uint32_t burst = 1; burst < 1024; burst += 2) {
      if (Syndrome(block ^ (burst << start)) == kOffsetWords[kOffsetD]) ++missed;
    }
  }
  EXPECT_EQ(missed, 0);
}

std::vector<std::uint8_t> EncodeGroups(const std::vector<std::array<std::uint16_t, 4>>& groups) {
  std::vector<std::uint8_t> bits;
  const int offsets[4] = {kOffsetA, kOffsetB, kOffsetC, kOffsetD};
  for (const auto& g : groups) {
    for (int b = 0; b < 4; ++b) {
      const std::uint32_t word =
          static_cast<std::uint32_t>(g[static_cast<std::size_t>(b)]) << 10 |
          (Checkword(g[static_cast<std::size_t>(b)]) ^ kOffsetWords[offsets[b]]);
      for (int k = 25; k >= 0; --k) bits.push_back(static_cast<std::uint8_t>(word >> k & 1));
    }
  }
  return bits;
}

TEST(RdsBlockCode, FramingSynchronisesDecodesAndCountsErrors) {
  std::vector<std::array<std::uint16_t, 4>> groups;
  const char* name = "TEST FM ";
  for (int k = 0; k < 8; ++k) {
    const int seg = k % 4;
    groups.push_back({0xC0DE, static_cast<std::uint16_t>(0x0400 | seg), 0xCDCD,
                      static_cast<std::uint16_t>(name[2 * seg] << 8 | name[2 * seg + 1])});
  }
  std::vector<std::uint8_t> bits = {1, 0, 1, 1, 0, 0, 1};  // noise ahead of the first group
  const auto coded = EncodeGroups(groups);
  bits.insert(bits.end(), coded.begin(), coded.end());
  RdsFrames f = FrameBlocks(bits);
  ASSERT_TRUE(f.synced);
  EXPECT_EQ(f.syncBit, 7u);
  EXPECT_EQ(f.blocksChecked, 32);
  EXPECT_EQ(f.blockErrors, 0);
  RdsContent c = DecodeGroups(f);
  EXPECT_EQ(c.groupsDecoded, 8);
  EXPECT_EQ(c.ps, "TEST FM ");
  EXPECT_EQ(c.segments, (std::vector<int>{0, 1, 2, 3, 0, 1, 2, 3}));
  // One flipped bit in the fourth block of group 5: one block error, that group dropped.
  bits[7 + 5 * 104 + 3 * 26 + 4] ^= 1;
  f = FrameBlocks(bits);
  EXPECT_EQ(f.blockErrors, 1);
  c = DecodeGroups(f);
  EXPECT_EQ(c.groupsDecoded, 7);
}

TEST(FmReceiverSelfCheck, EllipseFitAndDemodulatorRecoverAKnownSignal) {
  // A carrier at -3 kHz, FM by 20 kHz at 700 Hz, with a known calibration, quantised.
  IqRecording rec;
  rec.rate = 96000;
  double phi = 0;
  for (int n = 0; n < 48000; ++n) {
    rec.i.push_back(std::round(9000 * std::sin(phi) - 1234));
    rec.q.push_back(std::round(7500 * std::cos(phi + 40 * kPi / 180) + 2500));
    const double f = -3000 + 20000 * std::cos(2 * kPi * 700 * (n + 0.5) / rec.rate);
    phi += 2 * kPi * f / rec.rate;
  }
  const IqCalibration cal = EstimateCalibration(rec, 0, rec.i.size());
  EXPECT_NEAR(cal.dcI, -1234, 0.1);
  EXPECT_NEAR(cal.dcQ, 2500, 0.1);
  EXPECT_NEAR(cal.ampI, 9000, 1);
  EXPECT_NEAR(cal.ampQ, 7500, 1);
  EXPECT_NEAR(cal.phaseDeg, 40, 0.01);
  const std::vector<double> f = Demodulate(rec, cal);
  EXPECT_NEAR(Mean(f, 0, 48000 - 480), -3000, 0.5);
  EXPECT_NEAR(std::abs(ToneAt(f, 0, 47999, 700, rec.rate)), 20000, 5);
  double worst = 0;
  for (std::size_t n = 0; n < f.size(); ++n) {
    const double want = -3000 + 20000 * std::cos(2 * kPi * 700 * (n + 0.5) / rec.rate);
    worst = std::max(worst, std::abs(f[n] - want));
  }
  EXPECT_LT(worst, 10);
}

// --- Real renders. ---

TEST(ReceiverOnRenders, CalibratedFileShowsItsSettings) {
  TempDir tmp;
  const std::string out = tmp / "cal.wav";
  std::string log;
  ASSERT_EQ(Render(tmp, {"-o",        out,
                         "--seconds", "1",
                         "--set",     "SinePeakDev=40",
                         "--set",     "SineModFreq=1500",
                         "--set",     "CarrierFreq=-7000",
                         "--set",     "MaxOutputSwing=40",
                         "--set",     "LRGainRatio=1.25",
                         "--set",     "LRPhaseOffset=25",
                         "--set",     "DCCoupledDAC=1",
                         "--set",     "DCOffsetL=35",
                         "--set",     "DCOffsetR=62.5"},
                   log),
            0)
      << log;
  IqRecording rec;
  std::string error;
  ASSERT_TRUE(ReadIqWav(out, rec, error)) << error;
  ASSERT_EQ(rec.rate, kRate);
  ASSERT_EQ(rec.i.size(), 192000u);
  // Past the filters' start-up: 0.75 s, a whole number of modulation cycles.
  const std::size_t begin = 24000, end = 168000;
  const IqCalibration cal = EstimateCalibration(rec, begin, end);
  // Swing 40 % is 13107 counts (the headroom after the DC offsets and gain ratio is larger);
  // the output filter passes 0.9991 of it.
  EXPECT_NEAR(cal.ampI, 13107 * 0.9991, 13107 * 0.002);
  EXPECT_NEAR(cal.GainRatio(), 1.25, 0.001);
  EXPECT_NEAR(cal.phaseDeg, 25, 0.05);
  // DC offsets of -15 % and +12.5 %: 655.36 counts per percent (truncation costs < 1 count).
  EXPECT_NEAR(cal.dcI, -9830.4, 1.0);
  EXPECT_NEAR(cal.dcQ, 8192, 1.0);
  const std::vector<double> f = Demodulate(rec, cal);
  const double carrier = Mean(f, begin, end);
  EXPECT_NEAR(carrier, -7000, 0.5);
  const double dev = std::abs(ToneAt(f, begin, end, 1500, kRate));
  EXPECT_NEAR(dev, 40000, 40);
  double peak = 0, residual = 0;
  const std::complex<double> tone = ToneAt(f, begin, end, 1500, kRate);
  for (std::size_t n = begin; n < end; ++n) {
    const double d = f[n] - carrier;
    peak = std::max(peak, std::abs(d));
    const double fit =
        std::abs(tone) * std::cos(2 * kPi * 1500 * static_cast<double>(n) / kRate + std::arg(tone));
    residual += (d - fit) * (d - fit);
  }
  residual = std::sqrt(residual / static_cast<double>(end - begin));
  EXPECT_NEAR(peak, 40000, 200);
  // A wrongly undone calibration leaves a ripple at twice the carrier: here only quantisation.
  EXPECT_LT(residual, 40);
  std::printf(
      "calibrated file: ampI %.1f ampQ %.1f ratio %.5f phase %.3f deg DC %.2f / %.2f, "
      "carrier %.3f Hz, deviation %.1f Hz (peak %.1f), residual %.2f Hz rms\n",
      cal.ampI, cal.ampQ, cal.GainRatio(), cal.phaseDeg, cal.dcI, cal.dcQ, carrier, dev, peak,
      residual);
}

struct StereoRdsRun {
  IqCalibration cal;
  double carrier = 0;
  Pilot pilot;
  RdsSignal rds;
  RdsFrames frames;
  RdsContent content;
  double sepLeft = 0, sepRight = 0;  // dB: left tone over its leak into right, and back
};

// Renders from an input file with 1 kHz on the left and 2.5 kHz on the right, then receives.
StereoRdsRun ReceiveStereoRds(const TempDir& tmp, const std::string& seconds,
                              const std::vector<std::string>& settings, double nominalPilot) {
  StereoRdsRun run;
  const std::string in = tmp / "in.wav", out = tmp / "rds.wav";
  WriteStereoInput(in, std::stod(seconds), 1000, 3000, 2500, 3000);
  std::vector<std::string> args = {"-o",    out,     "--seconds",   seconds,         "--input",
                                   in,      "--set", "ExtSource=1", "--set",         "Stereo=1",
                                   "--set", "RDS=1", "--set",       "SamplingRate=3"};
  for (const auto& s : settings) args.insert(args.end(), {"--set", s});
  std::string log;
  const int status = Render(tmp, args, log);
  EXPECT_EQ(status, 0) << log;
  IqRecording rec;
  std::string error;
  EXPECT_TRUE(ReadIqWav(out, rec, error)) << error;
  if (status != 0 || rec.i.size() < 96000) return run;
  // Skip 50 ms of filter start-up; keep whole 10 ms readings.
  const std::size_t begin = 9600;
  const std::size_t end = begin + (rec.i.size() - 1 - begin) / 1920 * 1920;
  run.cal = EstimateCalibration(rec, begin, end);
  const std::vector<double> mpx = Demodulate(rec, run.cal);
  run.carrier = Mean(mpx, begin, end);
  run.pilot = MeasurePilot(mpx, kRate, nominalPilot, begin, end);
  run.rds = DemodulateRds(mpx, run.pilot, begin, end);
  run.frames = FrameBlocks(run.rds.bits);
  run.content = DecodeGroups(run.frames);
  // Separation over whole seconds after the start-up (both tones fit whole cycles there).
  const std::size_t sBegin = begin, sEnd = begin + (end - begin) / kRate * kRate;
  const StereoChannels lr = DecodeStereo(mpx, run.pilot, sBegin, sEnd);
  const double lInL = std::abs(ToneAt(lr.left, sBegin, sEnd, 1000, kRate));
  const double lInR = std::abs(ToneAt(lr.right, sBegin, sEnd, 1000, kRate));
  const double rInR = std::abs(ToneAt(lr.right, sBegin, sEnd, 2500, kRate));
  const double rInL = std::abs(ToneAt(lr.left, sBegin, sEnd, 2500, kRate));
  run.sepLeft = Db(lInL / lInR);
  run.sepRight = Db(rInR / rInL);
  std::printf(
      "stereo/RDS file: ampI %.1f ratio %.5f phase %.3f deg DC %.2f / %.2f carrier "
      "%.3f Hz; pilot %.4f Hz, %.1f Hz deviation, phase scatter %.3f deg; RDS peak %.1f "
      "Hz, carrier phase %.2f deg, eye %.3f, %d symbols, sync at bit %zu, %d blocks, "
      "%d block errors, %d groups; separation %.1f / %.1f dB (%.1f Hz in L)\n",
      run.cal.ampI, run.cal.GainRatio(), run.cal.phaseDeg, run.cal.dcI, run.cal.dcQ, run.carrier,
      run.pilot.frequency, run.pilot.deviation, run.pilot.phaseRmsDeg, run.rds.peakDeviation,
      run.rds.carrierPhaseDeg, run.rds.eyeOpening, run.rds.symbols, run.frames.syncBit,
      run.frames.blocksChecked, run.frames.blockErrors, run.content.groupsDecoded, run.sepLeft,
      run.sepRight, lInL);
  return run;
}

// Every decoded group is a type 0A group with TP set, the given PI and the filler AF codes,
// and the PS segment addresses count 0, 1, 2, 3, 0, ...
void ExpectType0AGroups(const RdsContent& c, std::uint16_t pi) {
  for (std::size_t g = 0; g < c.piValues.size(); ++g) {
    EXPECT_EQ(c.piValues[g], pi) << g;
    EXPECT_EQ(c.groupTypes[g], 0) << g;
    EXPECT_EQ(c.versions[g], 0) << g;
    EXPECT_EQ(c.tp[g], 1) << g;
    EXPECT_EQ(c.block3[g], 0xCDCD) << g;
    if (g > 0) {
      EXPECT_EQ(c.segments[g], (c.segments[g - 1] + 1) % 4) << g;
    }
  }
}

TEST(ReceiverOnRenders, StereoAndRdsFromAStereoFileThroughACalibratedOutput) {
  TempDir tmp;
  const StereoRdsRun run = ReceiveStereoRds(
      tmp, "4",
      {"RDSPI=C0DE", "RDSPS=KELVANE ", "MaxOutputSwing=30", "LRGainRatio=0.92", "LRPhaseOffset=-31",
       "DCCoupledDAC=1", "DCOffsetL=60", "DCOffsetR=40", "CarrierFreq=2500"},
      19000);
  // The calibration and carrier offset, read from the modulated file.
  EXPECT_NEAR(run.cal.ampI, 9830 * 0.9991, 9830 * 0.003);
  EXPECT_NEAR(run.cal.GainRatio(), 0.92, 0.002);
  EXPECT_NEAR(run.cal.phaseDeg, -31, 0.1);
  EXPECT_NEAR(run.cal.dcI, 6553.6, 1.5);
  EXPECT_NEAR(run.cal.dcQ, -6553.6, 1.5);
  EXPECT_NEAR(run.carrier, 2500, 1);
  // The pilot sits at its frequency, steady in phase; the interpolating filter passes about
  // 0.985 of its 6800 Hz at 19 kHz.
  EXPECT_NEAR(run.pilot.frequency, 19000, 0.01);
  EXPECT_LT(run.pilot.phaseRmsDeg, 0.5);
  EXPECT_NEAR(run.pilot.deviation, 6800 * 0.985, 6800 * 0.005);
  // RDS: 4 s carry about 45 groups; after sync not one block may fail its syndrome.
  EXPECT_TRUE(run.frames.synced);
  EXPECT_LT(run.frames.syncBit, 60u);
  EXPECT_GE(run.content.groupsDecoded, 40);
  EXPECT_EQ(run.frames.blockErrors, 0);
  EXPECT_EQ(run.content.groupsDecoded, static_cast<int>(run.frames.groups.size()));
  EXPECT_EQ(run.content.ps, "KELVANE ");
  ExpectType0AGroups(run.content, 0xC0DE);
  EXPECT_GT(run.rds.eyeOpening, 0.3);
  // The subcarrier's peak: 2700 Hz less the interpolating filter's loss at 57 kHz (0.86).
  EXPECT_NEAR(run.rds.peakDeviation, 2700 * 0.86, 2700 * 0.02);
  // The 57 kHz subcarrier is in phase with three times the pilot phase.
  EXPECT_LT(std::abs(run.rds.carrierPhaseDeg), 5.0);
  // With the default L-R level the interpolating filter's loss at 38 kHz limits the
  // separation to about 30 dB, in both directions.
  EXPECT_NEAR(run.sepLeft, 30, 3);
  EXPECT_NEAR(run.sepRight, 30, 3);
}

TEST(ReceiverOnRenders, CorrectedStereoShiftedPilotAndDefaultTexts) {
  TempDir tmp;
  // A stored PI text that is not hexadecimal sends FFFF (the command line would refuse it);
  // the seven-character default PS is padded.
  std::filesystem::create_directories(tmp / "config/kelvane");
  WriteFile(tmp / "config/kelvane/vantorex.ini", "[General]\nRDSPI=C0DG\n");
  const StereoRdsRun run = ReceiveStereoRds(
      tmp, "2.5",
      {"PilotFrequency=19010", "StereoEffect=106.5", "PilotDeviation=6900", "RDSDeviation=4000"},
      19010);
  EXPECT_NEAR(run.pilot.frequency, 19010, 0.01);
  EXPECT_NEAR(run.pilot.deviation, 6800, 6800 * 0.005);
  EXPECT_NEAR(run.rds.peakDeviation, 4000 * 0.86, 4000 * 0.02);
  EXPECT_LT(std::abs(run.rds.carrierPhaseDeg), 5.0);
  EXPECT_TRUE(run.frames.synced);
  EXPECT_GE(run.content.groupsDecoded, 25);
  EXPECT_EQ(run.frames.blockErrors, 0);
  EXPECT_EQ(run.content.ps, "PS Name ");
  ExpectType0AGroups(run.content, 0xFFFF);
  EXPECT_GT(run.sepLeft, 60);
  EXPECT_GT(run.sepRight, 60);
}

}  // namespace
}  // namespace kelvane::receiver
