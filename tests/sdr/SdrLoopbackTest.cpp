// SPDX-License-Identifier: GPL-3.0-or-later
// The SDR output end to end: kelvane-cli plays into the loopback transmitter, and the stored
// device-rate samples are judged by the reference receiver and against a render.
#include <gtest/gtest.h>
#include <soxr.h>

#include <chrono>
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
using Clock = std::chrono::steady_clock;

constexpr double kPi = 3.14159265358979323846;
constexpr int kRate = 192000;
constexpr double kDeviceRate = 2e6;
const std::string kDevice = "SDR: Kelvane loopback";

cli::RunResult Cli(const TempDir& tmp, const std::vector<std::string>& args) {
  // The player loads ALSA's plugins, which are unloaded at exit with blocks of their own still
  // allocated (see tests/support); the leak check of a sanitizer build cannot tell them apart.
  return cli::RunCli(
      tmp, args, {"SOAPY_SDR_PLUGIN_PATH=" KELVANE_SOAPY_MODULES, "LSAN_OPTIONS=detect_leaks=0"});
}

std::vector<std::complex<float>> ReadCf32(const std::string& path) {
  const std::string bytes = ReadFile(path);
  std::vector<std::complex<float>> s(bytes.size() / 8);
  std::memcpy(s.data(), bytes.data(), s.size() * 8);
  return s;
}

// The stored samples back at the engine rate as the receiver reads a render: left I, right Q
// in counts (the device got I - jQ).
IqRecording ToEngineRate(const std::vector<std::complex<float>>& s) {
  std::vector<float> out(2 * (s.size() * kRate / static_cast<std::size_t>(kDeviceRate) + 16));
  std::size_t made = 0;
  const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
  const soxr_quality_spec_t q = soxr_quality_spec(SOXR_HQ, 0);
  soxr_oneshot(kDeviceRate, kRate, 2, s.data(), s.size(), nullptr, out.data(), out.size() / 2,
               &made, &io, &q, nullptr);
  IqRecording rec;
  rec.rate = kRate;
  for (std::size_t n = 0; n < made; ++n) {
    rec.i.push_back(32768.0 * static_cast<double>(out[2 * n]));
    rec.q.push_back(-32768.0 * static_cast<double>(out[2 * n + 1]));
  }
  return rec;
}

void WriteInput(const std::string& path, double seconds) {
  const auto frames = static_cast<std::uint32_t>(seconds * kRate);
  std::string wav = "RIFF";
  const auto put = [&](std::uint32_t v, int bytes) {
    for (int k = 0; k < bytes; ++k) wav += static_cast<char>((v >> (8 * k)) & 0xFF);
  };
  put(36 + frames * 4, 4);
  wav += "WAVEfmt ";
  put(16, 4), put(1, 2), put(2, 2), put(kRate, 4), put(kRate * 4, 4), put(4, 2), put(16, 2);
  wav += "data";
  put(frames * 4, 4);
  for (std::uint32_t n = 0; n < frames; ++n) {
    const double t = static_cast<double>(n) / kRate;
    put(static_cast<std::uint32_t>(std::lround(3000 * std::sin(2 * kPi * 1000 * t))), 2);
    put(static_cast<std::uint32_t>(std::lround(3000 * std::sin(2 * kPi * 2500 * t))), 2);
  }
  kelvane::testing::WriteFile(path, wav);
}

struct Reading {
  double carrier = 0, tone = 0;
  Pilot pilot;
  RdsFrames frames;
};

Reading Receive(const IqRecording& rec) {
  Reading r;
  // Past the filters' start-up, before the fade at 3 s.
  const std::size_t begin = 19200, end = begin + 2 * kRate + kRate / 2;
  const IqCalibration cal = EstimateCalibration(rec, begin, end);
  const std::vector<double> mpx = Demodulate(rec, cal);
  r.carrier = Mean(mpx, begin, end);
  r.pilot = MeasurePilot(mpx, kRate, 19000, begin, end);
  const StereoChannels lr = DecodeStereo(mpx, r.pilot, begin, begin + kRate);
  r.tone = std::abs(ToneAt(lr.left, begin, begin + kRate, 1000, kRate));
  r.frames = FrameBlocks(DemodulateRds(mpx, r.pilot, begin, end).bits);
  return r;
}

// The play and the render of the same sine settings, at the engine rate.
struct SinePair {
  cli::RunResult play;
  std::vector<std::complex<float>> stored;
  IqRecording got, want;
};

IqRecording ReadRaw(const std::string& path) {
  const std::string raw = ReadFile(path);
  IqRecording rec;
  rec.rate = kRate;
  for (std::size_t k = 0; k + 3 < raw.size(); k += 4) {
    rec.i.push_back(static_cast<int16_t>((raw[k] & 0xFF) | (raw[k + 1] << 8)));
    rec.q.push_back(static_cast<int16_t>((raw[k + 2] & 0xFF) | (raw[k + 3] << 8)));
  }
  return rec;
}

TEST(SdrLoopback, PlaysTheSignalAtCentrePlusOffsetWithoutGapsAsTheDeviceWasSet) {
  TempDir tmp;
  const std::string tx = tmp / "tx.cf32", ref = tmp / "ref.raw";
  const std::vector<std::string> settings = {
      "--set", "CarrierFreq=-12000", "--set", "SinePeakDev=40", "--set", "SineModFreq=1000"};
  std::vector<std::string> play = {
      "play",  "--seconds",          "3",     "--output-device", kDevice, "--yes",
      "--set", "SdrArgs=file=" + tx, "--set", "SdrAntenna=TX2",  "--set", "SdrGain=0",
      "--set", "SdrFrequency=98.5M"};
  play.insert(play.end(), settings.begin(), settings.end());
  const cli::RunResult p = Cli(tmp, play);
  ASSERT_EQ(p.status, 0) << p.out << p.err;
  // What the device read back, as the player says it and as the device recorded it.
  EXPECT_NE(p.out.find("Kelvane loopback: centre 98500000 Hz, 2000000 S/s, TX gain 0 dB, "
                       "antenna TX2"),
            std::string::npos)
      << p.out;
  const std::string meta = ReadFile(tx + ".meta");
  for (const char* line : {"rate=2000000\n", "frequency=98500000\n", "gain=0\n", "antenna=TX2\n"})
    EXPECT_NE(meta.find(line), std::string::npos) << meta;
  EXPECT_NE(p.out.find("underruns 0"), std::string::npos) << p.out;

  const auto s = ReadCf32(tx);
  ASSERT_GT(s.size(), 3 * kDeviceRate);
  // The carrier's own frequency at the device rate, over whole modulation cycles: a positive
  // offset lies above the centre, this negative one below.
  double turns = 0;
  const std::size_t a = 200000, b = a + 4000000;
  for (std::size_t n = a; n < b; ++n) {
    turns += std::arg(std::complex<double>(s[n + 1]) * std::conj(std::complex<double>(s[n])));
  }
  EXPECT_NEAR(turns / static_cast<double>(b - a) * kDeviceRate / (2 * kPi), -12000, 0.1);

  std::vector<std::string> render = {"render", "-o", ref, "--format", "raw", "--seconds", "3"};
  render.insert(render.end(), settings.begin(), settings.end());
  const cli::RunResult r = Cli(tmp, render);
  ASSERT_EQ(r.status, 0) << r.err;
  const IqRecording want = ReadRaw(ref), got = ToEngineRate(s);
  const std::size_t begin = 19200, end = begin + 2 * kRate;
  const IqCalibration cal = EstimateCalibration(got, begin, end);
  const std::vector<double> f = Demodulate(got, cal);
  EXPECT_NEAR(Mean(f, begin, end), -12000, 0.1);
  EXPECT_NEAR(std::abs(ToneAt(f, begin, end, 1000, kRate)), 40000, 40);

  // Every rendered frame arrived once and in order: after the start the two agree sample for
  // sample (to the resamplers' precision) in every 10 ms, so no block is missing or repeated.
  const std::size_t span = std::min(got.i.size(), want.i.size()) - kRate / 5;
  int bad = 0, firstBad = -1;
  double worst = -200;
  for (std::size_t from = kRate / 20; from + 1920 <= span; from += 1920) {
    double err = 0, sig = 0;
    for (std::size_t n = from; n < from + 1920; ++n) {
      err += std::norm(std::complex<double>(got.i[n] - want.i[n], got.q[n] - want.q[n]));
      sig += std::norm(std::complex<double>(want.i[n], want.q[n]));
    }
    const double db = 10 * std::log10(err / sig);
    worst = std::max(worst, db);
    if (db > -50 && bad++ == 0) firstBad = static_cast<int>(from);
  }
  EXPECT_EQ(bad, 0) << "from frame " << firstBad << ", worst 10 ms: " << worst << " dB";
  std::printf("SDR loopback: %zu frames compared, worst 10 ms difference from the render %.1f dB\n",
              span, worst);
}

TEST(SdrLoopback, CarriesPilotAndRdsWithoutBlockErrors) {
  TempDir tmp;
  const std::string in = tmp / "in.wav", tx = tmp / "tx.cf32", ref = tmp / "ref.raw";
  WriteInput(in, 4.0);
  const std::vector<std::string> settings = {
      "--input",  in,      "--set", "ExtSource=1", "--set",
      "Stereo=1", "--set", "RDS=1", "--set",       "CarrierFreq=5000"};
  std::vector<std::string> play = {
      "play",  "--seconds",          "3",     "--output-device",  kDevice, "--yes",
      "--set", "SdrArgs=file=" + tx, "--set", "SdrFrequency=100M"};
  play.insert(play.end(), settings.begin(), settings.end());
  const cli::RunResult p = Cli(tmp, play);
  ASSERT_EQ(p.status, 0) << p.out << p.err;
  std::vector<std::string> render = {"render", "-o", ref, "--format", "raw", "--seconds", "3"};
  render.insert(render.end(), settings.begin(), settings.end());
  ASSERT_EQ(Cli(tmp, render).status, 0);
  const Reading g = Receive(ToEngineRate(ReadCf32(tx))), w = Receive(ReadRaw(ref));
  EXPECT_NEAR(g.carrier, 5000, 0.1);
  EXPECT_NEAR(g.pilot.frequency, 19000, 0.01);
  EXPECT_NEAR(g.pilot.deviation, w.pilot.deviation, w.pilot.deviation * 0.001);
  EXPECT_GT(g.tone, 1000);  // the left channel's tone decodes
  EXPECT_TRUE(g.frames.synced);
  EXPECT_GE(g.frames.blocksChecked, 110);  // 2.5 s at 1187.5 bit/s
  EXPECT_EQ(g.frames.blockErrors, 0);
  std::printf(
      "SDR loopback RDS: carrier %.3f Hz, pilot %.4f Hz, %.2f Hz (render %.2f Hz), "
      "%d blocks, %d errors\n",
      g.carrier, g.pilot.frequency, g.pilot.deviation, w.pilot.deviation, g.frames.blocksChecked,
      g.frames.blockErrors);
}

TEST(SdrLoopback, IsListedAndItsFailuresEndTheRunWithAClearMessage) {
  TempDir tmp;
  const cli::RunResult list = Cli(tmp, {"devices"});
  ASSERT_EQ(list.status, 0);
  const auto at = list.out.find(kDevice), inputs = list.out.find("Input devices:");
  EXPECT_TRUE(at != std::string::npos && at < inputs) << list.out;
  EXPECT_NE(Cli(tmp, {"devices", "--json"}).out.find("\"name\": \"" + kDevice + "\""),
            std::string::npos);

  const std::vector<std::string> base = {
      "play", "--seconds", "10", "--output-device", kDevice, "--set", "SdrFrequency=100M"};
  struct Case {
    std::string extra;  // SdrArgs, or "" for a run without --yes
    int status;
    std::string message;
    double withinSeconds;
  };
  // A failing stream is reported within a second of its failure after 1 s of samples; a
  // device that hangs in its write is given up after two seconds without progress.
  for (const Case& c : std::vector<Case>{
           {"", 2, "add --yes to confirm", 2.0},
           {"fail=open", 1,
            "cannot open the output device \"" + kDevice +
                "\" (number 0): the loopback device was told not to open",
            2.0},
           {"fail=stream", 1, "stopped: the SDR stopped taking samples: STREAM_ERROR", 1.0 + 1.5},
           {"fail=slow", 1, "stopped: the SDR stopped taking samples (no progress", 1.0 + 5.0}}) {
    std::vector<std::string> args = base;
    if (!c.extra.empty()) args.insert(args.end(), {"--yes", "--set", "SdrArgs=" + c.extra});
    const auto t0 = Clock::now();
    const cli::RunResult r = Cli(tmp, args);
    const double took = std::chrono::duration<double>(Clock::now() - t0).count();
    EXPECT_EQ(r.status, c.status) << c.extra << ": " << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.extra << ": " << r.err;
    EXPECT_LT(took, c.withinSeconds) << c.extra;
  }
}

}  // namespace
}  // namespace kelvane::receiver
