// SPDX-License-Identifier: GPL-3.0-or-later
// kelvane-cli render, run as a separate program: files, raw output, read-outs, bad input.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <numeric>
#include <thread>
#include <vector>

#include "CliRun.h"
#include "IqFileWriter.h"
#include "SettingsFile.h"
#include "TempDir.h"

namespace kelvane::cli {
namespace {

using kelvane::testing::ReadFile;
using kelvane::testing::TempDir;
using kelvane::testing::WriteFile;

constexpr double kPi = 3.14159265358979323846;

struct IQ {
  std::vector<double> i, q;
};

IQ Samples(const std::string& bytes) {
  IQ s;
  for (std::size_t k = 0; k + 3 < bytes.size(); k += 4) {
    const auto at = [&](std::size_t p) {
      return static_cast<std::int16_t>(static_cast<std::uint8_t>(bytes[p]) |
                                       static_cast<std::uint8_t>(bytes[p + 1]) << 8);
    };
    s.i.push_back(at(k));
    s.q.push_back(at(k + 2));
  }
  return s;
}

// Instantaneous frequency in Hz of each frame from the phase step of the complex sample.
// Left is sin(phi) and right cos(phi + phase offset), so the carrier is right + j left.
std::vector<double> InstantFrequency(const IQ& s, int rate) {
  std::vector<double> f;
  for (std::size_t n = 1; n < s.i.size(); ++n) {
    const double re = s.q[n] * s.q[n - 1] + s.i[n] * s.i[n - 1];
    const double im = s.i[n] * s.q[n - 1] - s.q[n] * s.i[n - 1];
    f.push_back(std::atan2(im, re) * rate / (2 * kPi));
  }
  return f;
}

// Amplitude and phase of the tone at freq in x (least squares over whole cycles).
void Tone(const std::vector<double>& x, double freq, int rate, double& amp, double& phase) {
  double c = 0, s = 0;
  for (std::size_t n = 0; n < x.size(); ++n) {
    const double w = 2 * kPi * freq * static_cast<double>(n) / rate;
    c += x[n] * std::cos(w);
    s += x[n] * std::sin(w);
  }
  c *= 2.0 / static_cast<double>(x.size());
  s *= 2.0 / static_cast<double>(x.size());
  amp = std::hypot(c, s);
  phase = std::atan2(-s, c) * 180.0 / kPi;  // x = amp cos(w n + phase)
}

double Mean(const std::vector<double>& x) {
  return std::accumulate(x.begin(), x.end(), 0.0) / static_cast<double>(x.size());
}

std::string Data(const std::string& wav) {
  return wav.substr(44);
}

// A 16-bit stereo tone file: amplitude a on both channels.
void WriteToneWav(const std::string& path, int rate, int channels, double seconds, double freq,
                  double a, int bits = 16) {
  const auto frames = static_cast<std::uint32_t>(seconds * rate);
  std::string data;
  for (std::uint32_t n = 0; n < frames; ++n) {
    const auto v = static_cast<std::int16_t>(std::lround(a * std::sin(2 * kPi * freq * n / rate)));
    for (int c = 0; c < channels; ++c) {
      if (bits == 16) {
        data += static_cast<char>(v & 0xFF);
        data += static_cast<char>((v >> 8) & 0xFF);
      } else {
        data += static_cast<char>(128 + v / 256);
      }
    }
  }
  std::uint8_t header[44];
  MakeWavHeader(header, static_cast<std::uint32_t>(rate), static_cast<std::uint16_t>(channels),
                static_cast<std::uint32_t>(data.size()));
  const auto align = static_cast<std::uint16_t>(channels * bits / 8);
  header[32] = static_cast<std::uint8_t>(align);
  header[34] = static_cast<std::uint8_t>(bits);
  const std::uint32_t byteRate = static_cast<std::uint32_t>(rate) * align;
  std::memcpy(header + 28, &byteRate, 4);
  WriteFile(path, std::string(reinterpret_cast<char*>(header), 44) + data);
}

// Every file and folder in dir (leftover temporary files included) but the captured output.
int Entries(const std::string& dir) {
  int n = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    if (name != ".stdout" && name != ".stderr") ++n;
  }
  return n;
}

// The read-out that follows caption in a meter line, e.g. "10.0" after "Peak Deviation [kHz]".
std::string Reading(const std::string& line, const std::string& caption) {
  auto at = line.find(caption);
  if (at == std::string::npos) return "<no " + caption + ">";
  at = line.find_first_not_of(' ', at + caption.size());
  return line.substr(at, line.find(' ', at) - at);
}

// The meter line of second n of the report text.
std::string Second(const std::string& report, int n) {
  const std::string tag = " " + std::to_string(n) + " s  ";
  const auto at = report.find(tag);
  if (at == std::string::npos) return "<no second " + std::to_string(n) + ">";
  const auto start = report.rfind('\n', at);
  const auto begin = start == std::string::npos ? 0 : start + 1;
  return report.substr(begin, report.find('\n', at) - begin);
}

TEST(CliRender, HelpExplainsEveryOptionAndKey) {
  TempDir tmp;
  for (const auto& args : {std::vector<std::string>{"--help"}, {"render", "--help"}}) {
    const RunResult r = RunCli(tmp, args);
    EXPECT_EQ(r.status, 0);
    for (const char* option : {"--output", "--seconds", "--settings", "--set", "--input"}) {
      EXPECT_NE(r.out.find(option), std::string::npos) << option;
    }
    for (const auto& key : SettingsKeys()) {
      EXPECT_NE(r.out.find("\n  " + std::string(key.name) + " "), std::string::npos) << key.name;
    }
  }
  const RunResult version = RunCli(tmp, {"--version"});
  EXPECT_EQ(version.status, 0);
  // "kelvane-cli 1.2.3" and a line end.
  const std::string prefix = "kelvane-cli ";
  const std::string number =
      version.out.substr(std::min(prefix.size(), version.out.size()),
                         version.out.size() - std::min(prefix.size() + 1, version.out.size()));
  EXPECT_EQ(version.out, prefix + number + "\n");
  EXPECT_TRUE(!number.empty() && std::isdigit(static_cast<unsigned char>(number[0])) &&
              number.find('.') != std::string::npos &&
              number.find_first_not_of("0123456789.") == std::string::npos)
      << version.out;
}

TEST(CliRender, OneSecondAtEachRateHoldsExactlyRateFrames) {
  TempDir tmp;
  const int rates[4] = {44100, 48000, 96000, 192000};
  for (int index = 0; index < 4; ++index) {
    const std::string out = tmp / ("r" + std::to_string(index) + ".wav");
    const RunResult r = RunCli(tmp, {"render", "-o", out, "--seconds", "1", "--set",
                                     "SamplingRate=" + std::to_string(index)});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string wav = ReadFile(out);
    const std::uint32_t dataBytes = static_cast<std::uint32_t>(rates[index]) * 4;
    ASSERT_EQ(wav.size(), 44u + dataBytes);
    std::uint8_t expected[44];
    MakeWavHeader(expected, static_cast<std::uint32_t>(rates[index]), 2, dataBytes);
    EXPECT_EQ(wav.substr(0, 44), std::string(reinterpret_cast<char*>(expected), 44));
    EXPECT_NE(r.err.find("Wrote " + std::to_string(rates[index]) + " frames"), std::string::npos);
    EXPECT_EQ(r.out, "");  // read-outs never go to standard output
  }
}

TEST(CliRender, DefaultsGiveTheConfiguredAmplitudeAndDeviation) {
  TempDir tmp;
  const std::string out = tmp / "d.wav";
  const RunResult r = RunCli(tmp, {"render", "-o", out, "--seconds", "1"});
  ASSERT_EQ(r.status, 0) << r.err;
  const IQ s = Samples(Data(ReadFile(out)));
  ASSERT_EQ(s.i.size(), 192000u);
  double peakI = 0, peakQ = 0, peakMag = 0;
  for (std::size_t n = 100; n < s.i.size(); ++n) {
    peakI = std::max(peakI, std::abs(s.i[n]));
    peakQ = std::max(peakQ, std::abs(s.q[n]));
    peakMag = std::max(peakMag, std::hypot(s.i[n], s.q[n]));
  }
  // Swing 10 %: amplitude 3276 on both channels.
  EXPECT_NEAR(peakI, 3276, 3276 * 0.01);
  EXPECT_NEAR(peakQ, 3276, 3276 * 0.01);
  EXPECT_NEAR(peakMag, 3276, 3276 * 0.01);
  // 10 kHz deviation at 1 kHz around a carrier at 0 Hz.
  const std::vector<double> f = InstantFrequency(s, 192000);
  const std::vector<double> steady(f.begin() + 1000, f.end());
  const auto [lo, hi] = std::minmax_element(steady.begin(), steady.end());
  EXPECT_NEAR(*hi, 10000, 100);
  EXPECT_NEAR(*lo, -10000, 100);
  EXPECT_NEAR(Mean(std::vector<double>(f.begin() + 1000, f.begin() + 1000 + 191000 - 1000)), 0.0,
              5.0);
  double amp = 0, phase = 0;
  Tone(steady, 1000, 192000, amp, phase);
  EXPECT_NEAR(amp, 10000, 100);
  // The meter read-outs of every second.
  EXPECT_EQ(Reading(Second(r.err, 1), "Peak Deviation [kHz]"), "10.0") << r.err;
  EXPECT_EQ(Reading(Second(r.err, 1), "MPX Power [dBr]"), "-5.6") << r.err;
}

TEST(CliRender, CarrierOffsetGainPhaseAndDcOffsets) {
  TempDir tmp;
  const std::string out = tmp / "c.wav";
  const RunResult r = RunCli(tmp, {"render",
                                   "-o",
                                   out,
                                   "--seconds",
                                   "0.5",
                                   "--set",
                                   "SamplingRate=1",
                                   "--set",
                                   "SinePeakDev=0",
                                   "--set",
                                   "CarrierFreq=3000",
                                   "--set",
                                   "LRGainRatio=0.92",
                                   "--set",
                                   "LRPhaseOffset=-31",
                                   "--set",
                                   "MaxOutputSwing=50",
                                   "--set",
                                   "DCCoupledDAC=1",
                                   "--set",
                                   "DCOffsetL=60",
                                   "--set",
                                   "DCOffsetR=40"});
  ASSERT_EQ(r.status, 0) << r.err;
  IQ s = Samples(Data(ReadFile(out)));
  ASSERT_EQ(s.i.size(), 24000u);
  // Skip the filters' start-up; keep 450 whole cycles of 3 kHz.
  s.i.erase(s.i.begin(), s.i.begin() + 6000);
  s.q.erase(s.q.begin(), s.q.begin() + 6000);
  s.i.resize(7200);
  s.q.resize(7200);
  EXPECT_NEAR(Mean(s.i), 6553.6, 1.0);
  EXPECT_NEAR(Mean(s.q), -6553.6, 1.0);
  double ampI = 0, phI = 0, ampQ = 0, phQ = 0;
  Tone(s.i, 3000, 48000, ampI, phI);
  Tone(s.q, 3000, 48000, ampQ, phQ);
  // Swing 50 % would be 16384 counts; DC offsets of 10 % leave 32767 - 6553 - 1 = 26213.
  EXPECT_NEAR(ampI, 16383, 16383 * 0.01);
  EXPECT_NEAR(ampQ / ampI, 0.92, 0.002);
  // sin(phi) on the left, cos(phi - 31 degrees) on the right: Q leads I by 90 - 31 degrees.
  EXPECT_NEAR(std::remainder(phQ - phI, 360.0), 59.0, 0.2);
  // The I/Q imbalance wobbles the instantaneous frequency; its mean is the carrier offset.
  const std::vector<double> f = InstantFrequency(s, 48000);
  EXPECT_NEAR(Mean(f), 3000, 1.0);
}

TEST(CliRender, PowerReadoutOfA19kHzSineAtEachRate) {
  TempDir tmp;
  for (int index = 0; index < 4; ++index) {
    const RunResult r =
        RunCli(tmp, {"render", "-o", "-", "--seconds", "2", "--set",
                     "SamplingRate=" + std::to_string(index), "--set", "SinePeakDev=19"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = r.errLines();
    ASSERT_EQ(lines.size(), 3u) << r.err;  // the summary and two seconds
    for (int second = 1; second <= 2; ++second) {
      EXPECT_EQ(Reading(lines[second], "Peak Deviation [kHz]"), "19.0") << lines[second];
      EXPECT_EQ(Reading(lines[second], "MPX Power [dBr]"), "0.0") << lines[second];
      EXPECT_NE(lines[second].find("(first minute)"), std::string::npos);
    }
  }
}

TEST(CliRender, RawOutputIsExactlyTheFramesAndTheLastBlockIsCut) {
  TempDir tmp;
  const std::string out = tmp / "w.wav";
  ASSERT_EQ(
      RunCli(tmp, {"render", "-o", out, "--seconds", "1", "--set", "CarrierFreq=1234"}).status, 0);
  const std::string data = Data(ReadFile(out));
  const RunResult raw =
      RunCli(tmp, {"render", "-o", "-", "--seconds", "1", "--set", "CarrierFreq=1234"});
  ASSERT_EQ(raw.status, 0) << raw.err;
  EXPECT_EQ(raw.out.size(), 768000u);
  EXPECT_TRUE(raw.out == data);
  // 0.3 s is 57600 frames: the first of two 65536-frame blocks, cut.
  const RunResult part =
      RunCli(tmp, {"render", "-o", "-", "--seconds", "0.3", "--set", "CarrierFreq=1234"});
  ASSERT_EQ(part.status, 0);
  ASSERT_EQ(part.out.size(), 57600u * 4);
  EXPECT_TRUE(part.out == data.substr(0, 57600 * 4));
  EXPECT_EQ(part.errLines().size(), 1u);  // no full second: only the summary line
}

TEST(CliRender, InputFileModulatesAfterThePrefillThenSilence) {
  TempDir tmp;
  const std::string in = tmp / "tone.wav";
  WriteToneWav(in, 96000, 2, 2.0, 1000, 2000);
  const std::string out = tmp / "i.wav";
  // Without the stereo encoder the deviation is (L + R) x sensitivity: 4000 x 2 Hz. Blocks of
  // 8192 frames (50 ms at 96000 Hz): the four prefilled ones carry no input yet.
  const std::vector<std::string> rate = {"--set",          "SamplingRate=2", "--set",
                                         "BufferLength=0", "--set",          "ExtModSens=2"};
  std::vector<std::string> args = {"render",  "-o", out,     "--seconds",  "4",
                                   "--input", in,   "--set", "ExtSource=1"};
  args.insert(args.end(), rate.begin(), rate.end());
  const RunResult r = RunCli(tmp, args);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.find("kelvane-cli:"), std::string::npos) << r.err;
  for (int second = 1; second <= 3; ++second) {
    EXPECT_EQ(Reading(Second(r.err, second), "Peak Deviation [kHz]"), "8.0") << r.err;
  }
  EXPECT_EQ(Reading(Second(r.err, 4), "Peak Deviation [kHz]"), "0.0") << r.err;
  const IQ s = Samples(Data(ReadFile(out)));
  ASSERT_EQ(s.i.size(), 384000u);
  const std::vector<double> f = InstantFrequency(s, 96000);
  const auto span = [&](std::size_t from, std::size_t to) {
    const auto [lo, hi] = std::minmax_element(f.begin() + from, f.begin() + to);
    return *hi - *lo;
  };
  constexpr std::size_t kStart = 4 * 8192, kEnd = kStart + 192000;
  EXPECT_LT(span(100, kStart), 1.0);             // a bare carrier until the input arrives
  EXPECT_GT(span(kStart, kStart + 96), 7000.0);  // then the tone's first cycle
  double amp = 0, phase = 0;
  Tone(std::vector<double>(f.begin() + kStart + 1000, f.begin() + kStart + 97000), 1000, 96000, amp,
       phase);
  EXPECT_NEAR(amp, 8000, 80);
  EXPECT_LT(span(kEnd + 100, f.size()), 1.0);  // an unmodulated carrier after the file's end

  // Both source keys 0 run from the input as well; the sine source ignores the file.
  std::vector<std::string> both = {"render",  "-o", "-",     "--seconds",   "1",
                                   "--input", in,   "--set", "SineSource=0"};
  both.insert(both.end(), rate.begin(), rate.end());
  const RunResult fromInput = RunCli(tmp, both);
  EXPECT_EQ(Reading(Second(fromInput.err, 1), "Peak Deviation [kHz]"), "8.0") << fromInput.err;
  const RunResult sine = RunCli(
      tmp, {"render", "-o", "-", "--seconds", "1", "--input", in, "--set", "SamplingRate=2"});
  EXPECT_EQ(sine.status, 0);
  EXPECT_NE(sine.err.find("note: --input is not used"), std::string::npos);
  EXPECT_EQ(Reading(Second(sine.err, 1), "Peak Deviation [kHz]"), "10.0") << sine.err;
  // The input source without an input file is said to render silence.
  const RunResult bare =
      RunCli(tmp, {"render", "-o", "-", "--seconds", "0.1", "--set", "ExtSource=1"});
  EXPECT_EQ(bare.status, 0);
  EXPECT_EQ(bare.err.rfind("kelvane-cli: warning: ", 0), 0u) << bare.err;
  EXPECT_NE(bare.err.find("no --input file"), std::string::npos) << bare.err;
}

TEST(CliRender, SettingsComeFromTheChosenFile) {
  TempDir tmp;
  const std::string mine = tmp / "mine.ini", env = tmp / "env.ini";
  WriteFile(mine, "[General]\nSinePeakDev=75\nSamplingRate=0\n");
  WriteFile(env, "[General]\nSinePeakDev=20,5\nSamplingRate=1\n");
  std::filesystem::create_directories(tmp / "config/kelvane");
  WriteFile(tmp / "config/kelvane/vantorex.ini", "[General]\nSinePeakDev=33\nSamplingRate=2\n");
  const RunResult user = RunCli(tmp, {"render", "-o", "-", "--seconds", "1"});
  EXPECT_NE(user.err.find("at 96000 Hz"), std::string::npos) << user.err;
  EXPECT_EQ(Reading(Second(user.err, 1), "Peak Deviation [kHz]"), "33.0") << user.err;
  const RunResult viaEnv =
      RunCli(tmp, {"render", "-o", "-", "--seconds", "1"}, {"KELVANE_SETTINGS=" + env});
  EXPECT_EQ(Reading(Second(viaEnv.err, 1), "Peak Deviation [kHz]"), "20.5") << viaEnv.err;
  const RunResult both = RunCli(tmp, {"render", "-o", "-", "--seconds", "1", "--settings", mine},
                                {"KELVANE_SETTINGS=" + env});
  EXPECT_NE(both.err.find("at 44100 Hz"), std::string::npos) << both.err;
  EXPECT_EQ(Reading(Second(both.err, 1), "Peak Deviation [kHz]"), "75.0") << both.err;
  // Rendering never writes the settings file.
  EXPECT_EQ(ReadFile(mine), "[General]\nSinePeakDev=75\nSamplingRate=0\n");
}

TEST(CliRender, BadInputGivesOneLineAndNoFile) {
  TempDir tmp;
  const std::string out = tmp / "out.wav";
  const std::string blocker = tmp / "blocker";
  WriteFile(blocker, "x");
  std::filesystem::create_directory(tmp / "adir");
  const std::string three = tmp / "3ch.wav";
  WriteToneWav(three, 192000, 3, 0.1, 1000, 1000);
  const std::string text = tmp / "text.wav";
  WriteFile(text, "hello\n");
  const std::vector<std::string> ext = {"--set", "ExtSource=1"};
  const auto with = [&](std::vector<std::string> a, const std::vector<std::string>& more = {}) {
    a.insert(a.end(), more.begin(), more.end());
    return a;
  };
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"render", "-o", out, "--bogus"}, "unknown option '--bogus'"},
      {{"frobnicate"}, "unknown command 'frobnicate'"},
      {{"render"}, "no output given"},
      {{"render", "-o", out, "--set", "Volume=3"}, "unknown settings key 'Volume'"},
      {{"render", "-o", out, "--set", "SinePeakDev=loud"}, "SinePeakDev=loud: not a number"},
      {{"render", "-o", out, "--set", "SinePeakDev=75000"}, "out of range, kHz 0.0 .. 150.0"},
      {{"render", "-o", out, "--set", "Stereo=maybe"}, "Stereo=maybe: not a switch"},
      {{"render", "-o", out, "--set", "Stereo"}, "--set needs KEY=VALUE"},
      {{"render", "-o", out, "--set", "SamplingRate=7"}, "SamplingRate=7: not in the list"},
      {{"render", "-o", out, "--seconds", "-1"}, "must be more than 0 s"},
      {{"render", "-o", out, "--seconds", "0"}, "must be more than 0 s"},
      {{"render", "-o", out, "--seconds", "soon"}, "cannot read 'soon' as a duration"},
      {{"render", "-o", out, "--seconds", "nan"}, "cannot read 'nan' as a duration"},
      {{"render", "-o", out, "--seconds", "1e12"}, "too long"},
      {{"render", "-o", out, "--seconds", "1e-9"}, "shorter than one frame"},
      {{"render", "-o", out, "--format", "flac"}, "--format flac: not one of wav, sigmf"},
      {{"render", "-o", out, "--center-frequency", "-5M"}, "in Hz of more than 0 up to 100 GHz"},
      {{"render", "-o", out, "--center-frequency", "1e12"}, "--center-frequency 1e12: not a"},
      {with({"render", "-o", out, "--input", tmp / "missing.wav"}, ext), "No such file"},
      {with({"render", "-o", out, "--input", tmp / "adir"}, ext), "adir: is a folder"},
      {with({"render", "-o", out, "--input", text}, ext), "text.wav: not an audio file"},
      {with({"render", "-o", out, "--input", three}, ext), "3ch.wav: has 3 channels"},
      {with({"render", "-o", out, "--input", text, "--input-rate", "44100"}, ext),
       "--input-rate applies only to --input -"},
      {with({"render", "-o", out, "--input", "-", "--input-rate", "10"}, ext),
       "--input-rate 10: out of range, Hz 1000 .. 768000"},
      {{"render", "-o", blocker + "/out.wav", "--seconds", "0.1"}, "cannot write"},
      {{"render", "-o", tmp / "nodir/out.wav", "--seconds", "0.1"}, "cannot write"},
      {{"render", "-o", tmp / "adir", "--seconds", "0.1"}, "is a directory"},
      {{"render", "-o", out, "--settings", tmp / "adir"}, "cannot read settings file"},
      // A key that would set the window title and clear the screen is shown escaped; the
      // 8-bit CSI is escaped as well, a plain accented letter is not.
      {{"render", "-o", out, "--set",
        "\x1b]0;x\a\x1b[2J\xc2\x9b"
        "Caf\xc3\xa9=1"},
       "\\x1b]0;x\\x07\\x1b[2J\\xc2\\x9b"
       "Caf\xc3\xa9"},
      {{"render", "-o", out, "--settings", "/dev/zero"}, "/dev/zero: is not a regular file"},
  };
  std::filesystem::create_directories(tmp / "config/kelvane");
  const int before = Entries(tmp.path());
  for (const auto& [args, message] : cases) {
    const RunResult r = RunCli(tmp, args);
    std::string shown;
    for (const auto& a : args) shown += a + " ";
    EXPECT_NE(r.status, 0) << shown;
    EXPECT_LT(r.status, 128) << shown << " crashed";
    const auto lines = r.errLines();
    ASSERT_EQ(lines.size(), 1u) << shown << "\n" << r.err;
    EXPECT_EQ(lines[0].rfind("kelvane-cli: ", 0), 0u) << lines[0];
    EXPECT_TRUE(std::none_of(lines[0].begin(), lines[0].end(), [](char c) {
      return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
    })) << shown;
    EXPECT_NE(lines[0].find(message), std::string::npos) << shown << "\n" << lines[0];
    EXPECT_FALSE(std::filesystem::exists(out)) << shown;
    EXPECT_EQ(Entries(tmp.path()), before) << shown << ": left a file behind";
  }
  // An existing file is kept as it was when the render fails.
  WriteFile(out, "precious");
  EXPECT_NE(RunCli(tmp, with({"render", "-o", out, "--input", three}, ext)).status, 0);
  EXPECT_EQ(ReadFile(out), "precious");
}

// Only a regular file is replaced; devices and FIFOs are written into, links followed, and a
// reader that closes standard output early ends the render quietly.
TEST(CliRender, OutputKinds) {
  TempDir tmp;
  const std::vector<std::string> args = {"--seconds", "0.1", "--set", "CarrierFreq=1234"};
  const auto render = [&](const std::string& out) {
    std::vector<std::string> a = {"render", "-o", out};
    a.insert(a.end(), args.begin(), args.end());
    return RunCli(tmp, a);
  };
  const auto mode = [](const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
  };
  const std::string ref = tmp / "ref.wav";
  ASSERT_EQ(render(ref).status, 0);
  const std::string wav = ReadFile(ref);
  ASSERT_EQ(wav.size(), 44u + 19200u * 4);

  // The null and full devices: private nodes of them when we may make them (as root), so that
  // a fault replaces those and never the system's own.
  std::string null = "/dev/null", full = "/dev/full";
  if (::mknod((tmp / "null").c_str(), S_IFCHR | 0666, ::makedev(1, 3)) == 0 &&
      ::mknod((tmp / "full").c_str(), S_IFCHR | 0666, ::makedev(1, 7)) == 0 &&
      ::access((tmp / "null").c_str(), W_OK) == 0) {
    null = tmp / "null";
    full = tmp / "full";
  }
  const RunResult toNull = render(null);
  EXPECT_EQ(toNull.status, 0) << toNull.err;
  EXPECT_NE(toNull.err.find("Wrote 19200 frames"), std::string::npos);
  const RunResult toFull = render(full);
  EXPECT_EQ(toFull.status, 1);
  const auto fullLines = toFull.errLines();
  ASSERT_EQ(fullLines.size(), 2u) << toFull.err;  // the summary, then the error
  EXPECT_EQ(fullLines[1], "kelvane-cli: " + full + ": cannot write: " + std::strerror(ENOSPC));
  EXPECT_EQ(toFull.err.find("Wrote"), std::string::npos) << toFull.err;
  for (const std::string& device : {null, full, std::string("/dev/null")}) {
    EXPECT_TRUE(S_ISCHR(mode(device))) << device << " is no longer a character device";
  }

  // A FIFO gets the whole file and stays a FIFO. The test holds a writer of its own open
  // until the render has ended, so that the reader sees the end even if the render never
  // opens the FIFO.
  const std::string fifo = tmp / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int readFd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  const int holdFd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
  ASSERT_GE(readFd, 0);
  ASSERT_GE(holdFd, 0);
  ::fcntl(readFd, F_SETFL, 0);
  std::string received;
  std::thread reader([&] {
    char buf[65536];
    for (ssize_t n; (n = ::read(readFd, buf, sizeof buf)) > 0;) {
      received.append(buf, static_cast<std::size_t>(n));
    }
  });
  const RunResult toFifo = render(fifo);
  ::close(holdFd);
  reader.join();
  ::close(readFd);
  EXPECT_EQ(toFifo.status, 0) << toFifo.err;
  EXPECT_TRUE(received == wav) << received.size() << " bytes";
  EXPECT_TRUE(S_ISFIFO(mode(fifo)));

  // A link to a regular file: the link stays, the file is replaced with its mode kept. A
  // dangling link: its target is made.
  const std::string target = tmp / "target.wav", link = tmp / "link.wav";
  WriteFile(target, "old");
  ::chmod(target.c_str(), 0640);
  std::filesystem::create_symlink("target.wav", link);
  std::filesystem::create_symlink("made.wav", tmp / "dangling.wav");
  for (const auto& [name, file] :
       {std::pair{link, target}, {tmp / "dangling.wav", tmp / "made.wav"}}) {
    const RunResult r = render(name);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(S_ISLNK(mode(name))) << name;
    EXPECT_TRUE(ReadFile(file) == wav) << file;
  }
  EXPECT_EQ(mode(target) & 0777, 0640u);

  // Standard output closed after 1000 bytes, as by `head -c 1000`.
  int pipeFds[2];
  ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
  std::size_t got = 0;
  const RunResult closed = RunCli(
      tmp, {"render", "-o", "-", "--seconds", "5"}, {},
      [&](pid_t) {
        ::close(pipeFds[1]);
        char buf[1000];
        for (ssize_t n = 1; got < sizeof buf && n > 0; got += static_cast<std::size_t>(n)) {
          n = std::max<ssize_t>(0, ::read(pipeFds[0], buf + got, sizeof buf - got));
        }
        ::close(pipeFds[0]);
      },
      pipeFds[1]);
  EXPECT_EQ(got, 1000u);
  EXPECT_EQ(closed.status, 0);
  EXPECT_EQ(closed.err.find("kelvane-cli:"), std::string::npos) << closed.err;

  for (const auto& e : std::filesystem::directory_iterator(tmp.path())) {
    EXPECT_EQ(e.path().filename().string().find(".part-"), std::string::npos) << e.path();
  }
}

TEST(CliRender, InterruptedRenderLeavesNoFile) {
  TempDir tmp;
  const std::string out = tmp / "long.wav";
  bool sawTemporary = false;
  const RunResult r =
      RunCli(tmp, {"render", "-o", out, "--seconds", "20000", "--set", "SamplingRate=0"}, {},
             [&](pid_t pid) {
               // Wait until the partial file exists, then interrupt as Ctrl+C would.
               for (int tries = 0; tries < 500 && !sawTemporary; ++tries) {
                 for (const auto& e : std::filesystem::directory_iterator(tmp.path())) {
                   if (e.path().filename().string().find(".part-") != std::string::npos) {
                     sawTemporary = std::filesystem::file_size(e.path()) > 1000000;
                   }
                 }
                 std::this_thread::sleep_for(std::chrono::milliseconds(20));
               }
               ::kill(pid, SIGINT);
             });
  EXPECT_TRUE(sawTemporary);
  EXPECT_EQ(r.status, 130);
  // The progress, then one message.
  EXPECT_EQ(r.errLines().back(), "kelvane-cli: interrupted; " + out + " was not written") << r.err;
  EXPECT_EQ(r.err.find("kelvane-cli:"), r.err.rfind("kelvane-cli:")) << r.err;
  EXPECT_FALSE(std::filesystem::exists(out));
  for (const auto& e : std::filesystem::directory_iterator(tmp.path())) {
    EXPECT_EQ(e.path().filename().string().find(".part-"), std::string::npos) << e.path();
  }
}

}  // namespace
}  // namespace kelvane::cli
