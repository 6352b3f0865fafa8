// SPDX-License-Identifier: GPL-3.0-or-later
// The broadcast programme end to end through the real kelvane-cli: with the new keys absent or
// at their first-run values the output is what it was before they existed, bit for bit; with
// them on, the reference receiver finds every item where the standards put it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "CliRun.h"
#include "FmReceiver.h"
#include "TempDir.h"

namespace kelvane::receiver {
namespace {

using kelvane::testing::TempDir;
using kelvane::testing::WriteFile;

constexpr double kPi = 3.14159265358979323846;

// 16-bit stereo PCM WAV of interleaved samples.
void WriteWav(const std::string& path, int rate, const std::vector<int>& samples) {
  std::string wav = "RIFF";
  const auto put = [&wav](std::uint32_t v, int bytes) {
    for (int k = 0; k < bytes; ++k) wav += static_cast<char>((v >> (8 * k)) & 0xFF);
  };
  const auto dataBytes = static_cast<std::uint32_t>(2 * samples.size());
  put(36 + dataBytes, 4);
  wav += "WAVEfmt ";
  put(16, 4), put(1, 2), put(2, 2), put(static_cast<std::uint32_t>(rate), 4);
  put(static_cast<std::uint32_t>(rate) * 4, 4), put(4, 2), put(16, 2);
  wav += "data";
  put(dataBytes, 4);
  for (int s : samples) put(static_cast<std::uint32_t>(s) & 0xFFFF, 2);
  WriteFile(path, wav);
}

cli::RunResult Render(const TempDir& tmp, std::vector<std::string> args,
                      const std::vector<std::string>& env = {}) {
  args.insert(args.begin(), "render");
  return cli::RunCli(tmp, args, env);
}

std::string Sha256(const std::string& path) {
  std::FILE* p = ::popen(("sha256sum '" + path + "'").c_str(), "r");
  char hex[65] = {};
  const bool ok = p && std::fread(hex, 1, 64, p) == 64;
  if (p) ::pclose(p);
  return ok ? std::string(hex) : std::string("sha256sum failed");
}

// Files rendered by the program before the programme keys existed: the sine source at 192000
// and 48000 Hz, and the input source with stereo, RDS and multipath on a sawtooth input.
TEST(ProgrammeOff, RendersBitForBitAsBeforeTheProgrammeKeys) {
  TempDir tmp;
  std::vector<int> saw;
  for (int n = 0; n < 192000 * 3; ++n) {
    saw.push_back(((n * 37) % 2000 - 1000) * 10);
    saw.push_back(((n * 53) % 3000 - 1500) * 7);
  }
  WriteWav(tmp / "in.wav", 192000, saw);
  const std::string sine48 =
      "[General]\nSamplingRate=1\nSinePeakDev=75\nSineModFreq=3000\nCarrierFreq=-12000\n";
  const std::string input =
      "[General]\nSamplingRate=3\nSineSource=0\nExtSource=1\nRDS=1\nRDSPS=RADIO 1\n"
      "RDSPI=D3C1\nMultipath=1\nMDelay=5\n";
  // The new keys written out at their first-run values change nothing either.
  const std::string firstRun =
      "PreEmphasis=0\nAudioLowPass=0\nRDSPTY=0\nRDSTP=1\nRDSTA=0\nRDSMS=1\nRDSDI=0\nRDSRT=\n"
      "RDSCT=1\nRDSAF=\n";
  struct Case {
    std::string file;
    std::string sha256;
  };
  const Case cases[] = {
      {"[General]\nSamplingRate=3\n",
       "d967737cd8c49163b1918eca8c3d142f64d1d6490360ce1df628a017f62e6509"},
      {sine48, "6100aec5cb473ac98a7a8fd3322b09183ae4266a58345baea0c1e9f11fdd22e0"},
      {input + "Stereo=1\n", "cf8cdd6a88bad9a8e1e416f39f164e9e48904c7195cb3f2eef364462fcf04baf"},
      {input + "Stereo=1\n" + firstRun,
       "cf8cdd6a88bad9a8e1e416f39f164e9e48904c7195cb3f2eef364462fcf04baf"},
      {input + "Stereo=0\n", "78e912b045df455e0d887848916f964f935f151996a5831ab4578762b646b08b"},
  };
  for (const Case& c : cases) {
    WriteFile(tmp / "k.ini", c.file);
    // RDSCT=1 above: a 4 s render that starts at 10:00:30 passes no minute edge.
    const cli::RunResult r =
        Render(tmp, {"--settings", tmp / "k.ini", "-s", "4", "-i", tmp / "in.wav", "--start-time",
                     "2026-12-09T10:00:30Z", "-o", tmp / "out.wav"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Sha256(tmp / "out.wav"), c.sha256) << c.file;
  }
}

// A 75 us emphasis undone by the receiver's analogue de-emphasis leaves the programme flat:
// tones from 400 Hz to 15 kHz read as they do without emphasis, within 0.2 dB.
TEST(ProgrammeOnRenders, DeEmphasisReturnsTheFlatInput) {
  TempDir tmp;
  constexpr int kRate = 192000;
  const double tones[] = {400, 1000, 2100, 5000, 10000, 15000};
  std::vector<int> in;
  for (int n = 0; n < kRate * 2; ++n) {
    double v = 0;
    for (double f : tones) v += 700 * std::sin(2 * kPi * f * n / kRate);
    in.push_back(static_cast<int>(std::lround(v)));  // L = R: a mono programme
    in.push_back(static_cast<int>(std::lround(v)));
  }
  WriteWav(tmp / "in.wav", kRate, in);
  std::vector<double> level[2];
  for (int emphasis : {0, 2}) {
    const cli::RunResult r =
        Render(tmp, {"-s", "2", "-i", tmp / "in.wav", "--set", "ExtSource=1", "--set",
                     "PreEmphasis=" + std::to_string(emphasis), "-o", tmp / "e.wav"});
    ASSERT_EQ(r.status, 0) << r.err;
    IqRecording rec;
    std::string error;
    ASSERT_TRUE(ReadIqWav(tmp / "e.wav", rec, error)) << error;
    const std::size_t begin = kRate * 3 / 4, end = begin + kRate;  // a whole second
    const std::vector<double> mpx = Demodulate(rec, EstimateCalibration(rec, begin, end));
    for (double f : tones) {
      double a = std::abs(ToneAt(mpx, begin, end, f, kRate));
      if (emphasis) a /= std::hypot(1.0, 2 * kPi * f * 75e-6);
      level[emphasis ? 1 : 0].push_back(a);
    }
  }
  for (std::size_t k = 0; k < std::size(tones); ++k) {
    const double db = 20 * std::log10(level[1][k] / level[0][k]);
    std::printf("de-emphasised 75 us render at %.0f Hz: %+.3f dB\n", tones[k], db);
    EXPECT_NEAR(db, 0.0, 0.2) << tones[k] << " Hz";
  }
}

// Everything on, from the command line as a user types it: the receiver decodes PI, PS, PTY,
// TP/TA/MS, DI, the AF list, the whole RadioText and a clock time equal to the render's clock,
// with not one block error.
TEST(ProgrammeOnRenders, ReceiverDecodesEveryRdsItem) {
  TempDir tmp;
  constexpr int kRate = 192000;
  std::vector<int> in;
  for (int n = 0; n < kRate * 8; ++n) {
    in.push_back(static_cast<int>(std::lround(3000 * std::sin(2 * kPi * 1000.0 * n / kRate))));
    in.push_back(static_cast<int>(std::lround(3000 * std::sin(2 * kPi * 2500.0 * n / kRate))));
  }
  WriteWav(tmp / "in.wav", kRate, in);
  const std::string rt = "Gr\xC3\xBC\xC3\x9F Gott! 5 \xE2\x82\xAC or $5 on 104.2";
  std::vector<std::string> args = {"-s",           "8",
                                   "-i",           tmp / "in.wav",
                                   "-o",           tmp / "all.wav",
                                   "--start-time", "2026-12-09T14:36:55Z"};
  for (const char* set : {"ExtSource=1", "Stereo=1", "RDS=1", "RDSPI=D3C1", "RDSPS=Caf\xC3\xA9 $1",
                          "RDSPTY=10", "RDSTA=on", "RDSMS=0", "RDSDI=2", "RDSCT=1",
                          "RDSAF=87.6, 104.2, 107.9", "PreEmphasis=1", "AudioLowPass=1"}) {
    args.insert(args.end(), {"--set", set});
  }
  args.insert(args.end(), {"--set", "RDSRT=" + rt});
  // Eastern Standard Time: a local offset of -5 h, -10 half hours.
  const cli::RunResult r = Render(tmp, args, {"TZ=EST5"});
  ASSERT_EQ(r.status, 0) << r.err;

  IqRecording rec;
  std::string error;
  ASSERT_TRUE(ReadIqWav(tmp / "all.wav", rec, error)) << error;
  const std::size_t begin = 9600, end = rec.i.size() - 1;
  const std::vector<double> mpx = Demodulate(rec, EstimateCalibration(rec, begin, end));
  const Pilot pilot = MeasurePilot(mpx, kRate, 19000, begin, end);
  const RdsSignal rds = DemodulateRds(mpx, pilot, begin, end);
  const RdsFrames frames = FrameBlocks(rds.bits);
  const RdsContent c = DecodeGroups(frames);
  ASSERT_TRUE(frames.synced);
  EXPECT_EQ(frames.blockErrors, 0);
  ASSERT_GE(c.groupsDecoded, 85);  // 8 s of 11.4 groups a second
  for (int g = 0; g < c.groupsDecoded; ++g) {
    EXPECT_EQ(c.piValues[static_cast<std::size_t>(g)], 0xD3C1);
    EXPECT_EQ(c.pty[static_cast<std::size_t>(g)], 10);
    EXPECT_EQ(c.tp[static_cast<std::size_t>(g)], 1);
  }
  for (std::size_t k = 0; k < c.ta.size(); ++k) {
    EXPECT_EQ(c.ta[k], 1);
    EXPECT_EQ(c.ms[k], 0);
  }
  EXPECT_EQ(c.ps,
            "Caf\x82 \xAB"
            "1 ");        // é and $ in the RDS set, padded to 8
  EXPECT_EQ(c.di[3], 1);  // stereo, following the encoder
  EXPECT_EQ(c.afCount, 3);
  EXPECT_EQ(c.af, (std::vector<int>{1, 167, 204}));
  std::string text;
  ASSERT_TRUE(CompleteRadioText(c.rt[0], &text));
  EXPECT_EQ(text,
            "Gr\x99\x8D Gott! 5 \xA9 or \xAB"
            "5 on 104.2");
  // The minute 14:37 begins 5 s into the render; its group starts within 0.1 s after it.
  ASSERT_EQ(c.clockTimes.size(), 1u);
  const RdsClockTime& ct = c.clockTimes[0];
  EXPECT_EQ(ct.mjd, 61383);
  EXPECT_EQ(ct.hour, 14);
  EXPECT_EQ(ct.minute, 37);
  EXPECT_EQ(ct.offsetHalfHours, -10);
  const double at = rds.bitStarts[c.startBits[ct.group]] / kRate;
  std::printf("RDS render: %d groups, %d block errors, CT group at %.4f s\n", c.groupsDecoded,
              frames.blockErrors, at);
  EXPECT_GE(at, 5.0);
  EXPECT_LT(at, 5.1);

  // What the receiver cannot be given is refused with the key and its range.
  cli::RunResult bad = Render(tmp, {"-o", tmp / "x.wav", "--set", "RDSRT=\xD0\xB6"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("RDSRT=\xD0\xB6: the character '\xD0\xB6' (U+0436) has no code in the "
                         "RDS character set; up to 64 characters of the RDS set"),
            std::string::npos)
      << bad.err;
  bad = Render(tmp, {"-o", tmp / "x.wav", "--start-time", "2026-02-30T10:00Z"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("--start-time '2026-02-30T10:00Z' is not an ISO 8601 UTC time"),
            std::string::npos)
      << bad.err;
}

}  // namespace
}  // namespace kelvane::receiver
