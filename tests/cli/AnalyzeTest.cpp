// SPDX-License-Identifier: GPL-3.0-or-later
// render -> analyze: every setting a render is made with is read back by `kelvane-cli analyze`
// from the recording, at every rate and in every container, within the tolerances below.
#include <gtest/gtest.h>
#include <soxr.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "CliRun.h"
#include "SoundFiles.h"
#include "TempDir.h"

namespace kelvane::cli {
namespace {

using kelvane::testing::TempDir;
using nlohmann::json;

constexpr double kPi = 3.14159265358979323846;

struct Case {
  const char* name;
  int rateIndex;          // SamplingRate
  const char* container;  // render --format, and how analyze reads it
  int wideRate;           // 0, or the rate the recording is converted to before analysis
  bool stereo;            // the stereo and RDS programme from a file, else the sine
  double carrier, ratio, phase, dcL, dcR;  // the calibration settings (DC with DCCoupledDAC=1)
  double dev_kHz, tone_Hz;                 // sine only
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

class RenderAnalyze : public ::testing::TestWithParam<Case> {};

// Upsamples a 16-bit stereo WAV to `rate` as raw ci16 frames (libsoxr, so the signal itself
// is unchanged below the old Nyquist frequency).
void WriteWideRaw(const std::string& wav, int rate, const std::string& raw) {
  std::ifstream in(wav, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::size_t frames = (bytes.size() - 44) / 4;
  const auto* pcm = reinterpret_cast<const std::int16_t*>(bytes.data() + 44);
  // A stretch at a time: one call over the whole file makes libsoxr grow its buffers step by
  // step, which is slow under the sanitizers.
  const soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
  soxr_error_t err = nullptr;
  soxr_t soxr = soxr_create(192000, rate, 2, &err, &io, nullptr, nullptr);
  ASSERT_EQ(err, nullptr);
  const std::size_t room = 65536 * static_cast<std::size_t>(rate) / 192000 + 4096;
  std::vector<std::int16_t> out(2 * room);
  std::ofstream file(raw, std::ios::binary);
  for (std::size_t at = 0;;) {
    const bool flush = at >= frames;
    std::size_t used = 0, made = 0;
    ASSERT_EQ(
        soxr_process(soxr, flush ? nullptr : pcm + 2 * at,
                     std::min<std::size_t>(65536, frames - at), &used, out.data(), room, &made),
        nullptr);
    file.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(4 * made));
    at += used;
    if (flush && made == 0) break;
  }
  soxr_delete(soxr);
}

TEST_P(RenderAnalyze, ReadsBackEverySetting) {
  const Case& c = GetParam();
  TempDir tmp;
  const std::string ext = std::string(".") + c.container;
  const std::string rec = tmp / ("rec" + ext);
  std::vector<std::string> args = {"render",   "-q",        "-o", rec,
                                   "--format", c.container, "-s", c.stereo ? "5" : "1"};
  std::vector<std::string> sets = {"SamplingRate=" + std::to_string(c.rateIndex),
                                   "BufferLength=0",
                                   "DCCoupledDAC=1",
                                   "CarrierFreq=" + std::to_string(c.carrier),
                                   "LRGainRatio=" + std::to_string(c.ratio),
                                   "LRPhaseOffset=" + std::to_string(c.phase),
                                   "DCOffsetL=" + std::to_string(c.dcL),
                                   "DCOffsetR=" + std::to_string(c.dcR),
                                   "MaxOutputSwing=40"};
  if (c.stereo) {
    // 1 kHz on the left, the right silent.
    std::string error;
    ASSERT_TRUE(testing::WriteSound(tmp / "in.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 192000, 2,
                                    192000 * 5, testing::Tones(192000, 1000, 3000 / 32768.0, 0, 0),
                                    error))
        << error;
    args.insert(args.end(), {"-i", tmp / "in.wav", "--start-time", "2026-12-09T14:36:57Z"});
    sets.insert(sets.end(),
                {"ExtSource=1", "Stereo=1", "RDS=1", "PilotFrequency=19010", "PilotDeviation=7500",
                 "StereoPhase=20", "RDSPhase=-30", "RDSDeviation=3000", "RDSPI=D3C1",
                 "RDSPS=Analyse", "RDSPTY=10", "RDSTA=1", "RDSMS=0", "RDSDI=1", "RDSCT=1",
                 "RDSAF=87.6, 104.2", "RDSRT=Render, then analyse."});
  } else {
    sets.push_back("SinePeakDev=" + std::to_string(c.dev_kHz));
    sets.push_back("SineModFreq=" + std::to_string(c.tone_Hz));
  }
  for (const auto& s : sets) args.insert(args.end(), {"--set", s});
  // The same settings for analyze, so that the corrections it gives cancel them exactly.
  const std::vector<std::string> settingsArgs(args.end() - 2 * static_cast<long>(sets.size()),
                                              args.end());
  const RunResult r = RunCli(tmp, args, {"TZ=UTC"});
  ASSERT_EQ(r.status, 0) << r.err;

  std::vector<std::string> analyze = {"analyze", rec, "--json", "--skip", c.stereo ? "0.5" : "0.1"};
  const int rates[] = {44100, 48000, 96000, 192000};
  const int rate = rates[c.rateIndex];
  if (c.wideRate) {
    WriteWideRaw(rec, c.wideRate, tmp / "wide.ci16");
    analyze[1] = tmp / "wide.ci16";
    analyze.insert(analyze.end(), {"--rate", std::to_string(c.wideRate)});
  } else if (std::string(c.container) == "raw" || std::string(c.container) == "cf32") {
    analyze.insert(analyze.end(), {"--rate", std::to_string(rate)});
  }
  analyze.insert(analyze.end(), settingsArgs.begin(), settingsArgs.end());
  const RunResult a = RunCli(tmp, analyze);
  ASSERT_EQ(a.status, 0) << a.err;
  const json j = json::parse(a.out);
  std::printf("%s: %s\n", c.name, j.dump().c_str());

  // Carrier and calibration: the constellation's ellipse and the mean frequency.
  EXPECT_NEAR(j["carrier_offset_hz"].get<double>(), c.carrier, 0.5);
  EXPECT_NEAR(j["iq"]["gain_ratio"].get<double>(), c.ratio, 0.002);
  EXPECT_NEAR(j["iq"]["phase_deg"].get<double>(), c.phase, 0.1);
  // 655.36 counts per percent of full scale away from 50 %; within 0.01 % of full scale.
  EXPECT_NEAR(j["iq"]["dc_i"].get<double>(), (c.dcL - 50) * 655.36, 6);
  EXPECT_NEAR(j["iq"]["dc_q"].get<double>(), (c.dcR - 50) * 655.36, 6);
  // With the render's own settings the corrections are those of a clean output.
  const json& corr = j["iq"]["correction"];
  EXPECT_NEAR(corr["LRGainRatio"].get<double>(), 1, 0.005);
  EXPECT_NEAR(corr["LRPhaseOffset"].get<double>(), 0, 0.1);
  EXPECT_NEAR(corr["DCOffsetL"].get<double>(), 50, 0.01);
  EXPECT_NEAR(corr["DCOffsetR"].get<double>(), 50, 0.01);
  // The image that gain and phase leave: |1 - g e^{jp}|^2 / |1 + g e^{jp}|^2 below the carrier.
  const double g = c.ratio, cp = std::cos(c.phase * kPi / 180);
  EXPECT_NEAR(j["iq"]["image_rejection_db"].get<double>(),
              10 * std::log10((1 + g * g + 2 * g * cp) / (1 + g * g - 2 * g * cp)), 0.2);

  if (!c.stereo) {
    const double dev = 1000 * c.dev_kHz;
    EXPECT_NEAR(j["fm"]["tone_hz"].get<double>(), c.tone_Hz, 0.01);
    EXPECT_NEAR(j["fm"]["tone_deviation_hz"].get<double>(), dev, 0.005 * dev);
    EXPECT_NEAR(j["fm"]["peak_deviation_hz"].get<double>(), dev, 0.01 * dev);
    EXPECT_NEAR(j["fm"]["rms_deviation_hz"].get<double>(), dev / std::sqrt(2), 0.005 * dev);
    // A sine of 19 kHz peak deviation is 0 dBr.
    EXPECT_NEAR(j["fm"]["mpx_power_dbr"].get<double>(), 20 * std::log10(dev / 19000), 0.05);
    EXPECT_TRUE(j["stereo"]["pilot_hz"].is_null());
    EXPECT_TRUE(j["rds"]["pi"].is_null());
    EXPECT_TRUE(j["rds"]["bler"].is_null());
    return;
  }
  const json& st = j["stereo"];
  EXPECT_NEAR(j["fm"]["tone_hz"].get<double>(), 1000, 0.01);
  EXPECT_NEAR(st["pilot_hz"].get<double>(), 19010, 0.01);
  EXPECT_NEAR(st["pilot_deviation_hz"].get<double>(), 7500, 7500 * 0.005);
  EXPECT_NEAR(st["subcarrier_38k_phase_deg"].get<double>(), 20, 1);
  // A receiver locked to twice the pilot phase decodes L-R scaled by cos(20 deg).
  const double k = std::cos(20 * kPi / 180);
  EXPECT_NEAR(st["left_tone_hz"].get<double>(), 1000, 0.01);
  EXPECT_NEAR(st["left_level_hz"].get<double>(), 3000 * (1 + k) / 2, 3000 * 0.01);
  EXPECT_EQ(st["silent_channel"], "right");
  EXPECT_NEAR(st["separation_db"].get<double>(), 20 * std::log10((1 + k) / (1 - k)), 1.5);
  const json& rds = j["rds"];
  EXPECT_EQ(rds["pi"], "D3C1");
  EXPECT_EQ(rds["ps"], "Analyse ");
  EXPECT_EQ(rds["pty"], 10);
  EXPECT_EQ(rds["tp"], 1);
  EXPECT_EQ(rds["ta"], 1);
  EXPECT_EQ(rds["ms"], 0);
  EXPECT_EQ(rds["di"], 1);
  EXPECT_EQ(rds["rt"], "Render, then analyse.");
  EXPECT_EQ(rds["rt_complete"], true);
  EXPECT_EQ(rds["ct"], "2026-12-09T14:37Z");
  EXPECT_EQ(rds["ct_offset_hours"], 0);
  EXPECT_EQ(rds["af_mhz"], json::parse("[87.6, 104.2]"));
  EXPECT_EQ(rds["groups"]["4A"], 1);
  EXPECT_GE(rds["groups"]["0A"].get<int>(), 20);
  EXPECT_GE(rds["groups"]["2A"].get<int>(), 10);
  EXPECT_GE(rds["blocks"].get<int>(), 160);
  EXPECT_EQ(rds["bler"], 0.0);
  // The test's own upsampler keeps the 192000 Hz recording only to +-87.6 kHz, which cuts
  // the outermost FM sidebands: 3 % there.
  EXPECT_NEAR(rds["deviation_hz"].get<double>(), 3000, 3000 * (c.wideRate ? 0.03 : 0.01));
  EXPECT_NEAR(rds["phase_deg"].get<double>(), -30, 2);
}

INSTANTIATE_TEST_SUITE_P(
    Rates, RenderAnalyze,
    ::testing::Values(
        Case{"r44100_wav", 0, "wav", 0, false, -3000, 1.1, 10, 55, 47, 5, 1000},
        Case{"r48000_sigmf", 1, "sigmf", 0, false, 5000, 0.92, -31, 60, 40, 8, 2000},
        Case{"r96000_raw", 2, "raw", 0, false, -12000, 1.25, 25, 35, 62.5, 20, 3000},
        Case{"r192000_cf32", 3, "cf32", 0, false, 20000, 0.75, -60, 50, 50, 40, 5000},
        Case{"stereo_rds_192000_sigmf", 3, "sigmf", 0, true, -2500, 1.08, 12, 52, 45, 0, 0},
        Case{"stereo_rds_2400000_ci16", 3, "wav", 2400000, true, 7000, 0.95, -8, 48, 53, 0, 0}),
    [](const ::testing::TestParamInfo<Case>& p) { return std::string(p.param.name); });

TEST(AnalyzeRefusals, UnreadableFileNotFmAndBadOptions) {
  TempDir tmp;
  RunResult r = RunCli(tmp, {"analyze", tmp / "missing.wav"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("missing.wav"), std::string::npos) << r.err;
  // Noise: no constant envelope.
  std::srand(1);
  std::string error;
  ASSERT_TRUE(testing::WriteSound(
      tmp / "noise.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, 48000,
      [](int, long) { return std::rand() / (2.0 * RAND_MAX) - 0.25; }, error))
      << error;
  r = RunCli(tmp, {"analyze", tmp / "noise.wav"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("not an FM signal"), std::string::npos) << r.err;
  r = RunCli(tmp, {"analyze", tmp / "noise.raw"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("--rate"), std::string::npos) << r.err;
  r = RunCli(tmp, {"analyze", tmp / "noise.raw", "--rate", "30M"});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("--rate 30M: not a number of Hz in 44100 .. 20000000"), std::string::npos)
      << r.err;
  r = RunCli(tmp, {"analyze", tmp / "noise.wav", "--length", "0"});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("--length 0: not a number of seconds in more than 0"), std::string::npos)
      << r.err;
}

}  // namespace
}  // namespace kelvane::cli
