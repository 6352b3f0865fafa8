// SPDX-License-Identifier: GPL-3.0-or-later
// Audio files as the modulation of real renders: FLAC and MP3 at 44100 Hz converted to
// 192000 Hz, judged by the reference receiver against the sine source and a WAV at the output
// rate; standard input; and the files that cannot be played.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "CliRun.h"
#include "FmReceiver.h"
#include "SoundFiles.h"
#include "TempDir.h"

namespace kelvane::receiver {
namespace {

using kelvane::testing::ReadFile;
using kelvane::testing::TempDir;
using kelvane::testing::Tones;
using kelvane::testing::WriteFile;
using kelvane::testing::WriteSound;

constexpr double kPi = 3.14159265358979323846;
constexpr int kRate = 192000;
constexpr int kFlac = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
constexpr int kMp3 = SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
constexpr int kWav = SF_FORMAT_WAV | SF_FORMAT_PCM_16;

cli::RunResult Render(const TempDir& tmp, std::vector<std::string> args) {
  args.insert(args.begin(), "render");
  return cli::RunCli(tmp, args);
}

struct Received {
  double deviation = 0;              // Hz, peak, of the tone at `freq`
  double frequency = 0;              // Hz, from the tone's phase over the span
  double sepLeft = 0, sepRight = 0;  // dB, with stereo
};

// The tone's frequency from the phase advance between the two halves of [begin, end).
double ToneFrequency(const std::vector<double>& x, std::size_t begin, std::size_t end,
                     double nominal) {
  const std::size_t mid = begin + (end - begin) / 2;
  const double turn =
      std::arg(ToneAt(x, mid, end, nominal, kRate) / ToneAt(x, begin, mid, nominal, kRate));
  return nominal + turn / (2 * kPi * static_cast<double>(mid - begin) / kRate);
}

// Receives 2 s of a render past its first 0.5 s (the prefill of four 85 ms blocks, filters):
// the deviation and frequency of `freq`, and with stereo the separation of 1 kHz left and
// 2.5 kHz right.
Received Receive(const std::string& path, double freq, bool stereo) {
  Received r;
  IqRecording rec;
  std::string error;
  EXPECT_TRUE(ReadIqWav(path, rec, error)) << error;
  if (rec.i.size() < 3 * kRate) return r;
  const std::size_t begin = kRate / 2, end = begin + 2 * kRate;
  const std::vector<double> mpx = Demodulate(rec, EstimateCalibration(rec, begin, end));
  r.deviation = std::abs(ToneAt(mpx, begin, end, freq, kRate));
  r.frequency = ToneFrequency(mpx, begin, end, freq);
  if (stereo) {
    const Pilot pilot = MeasurePilot(mpx, kRate, 19000, begin, end);
    const StereoChannels lr = DecodeStereo(mpx, pilot, begin, end);
    const auto level = [&](const std::vector<double>& x, double f) {
      return std::abs(ToneAt(x, begin, end, f, kRate));
    };
    r.sepLeft = 20 * std::log10(level(lr.left, 1000) / level(lr.right, 1000));
    r.sepRight = 20 * std::log10(level(lr.right, 2500) / level(lr.left, 2500));
  }
  return r;
}

TEST(FileSourceRenders, FlacAndMp3ModulateAsTheSineAndSeparateAsAWavAtTheOutputRate) {
  TempDir tmp;
  std::string error;
  // 10000 counts on both channels at 1 Hz/step: (L + R) x 1 = 20 kHz, the sine's 20 kHz.
  const double amp = 10000.0 / 32767;
  for (const int format : {kFlac, kMp3}) {
    ASSERT_TRUE(WriteSound(tmp / (format == kFlac ? "t.flac" : "t.mp3"), format, 44100, 2,
                           3 * 44100, Tones(44100, 1000, amp, 1000, amp), error))
        << error;
  }
  const std::vector<std::string> common = {
      "--seconds",      "3",     "--set",         "ExtModSens=1", "--set",
      "SamplingRate=3", "--set", "BufferLength=0"};
  const auto with = [&](std::vector<std::string> a, const std::vector<std::string>& more) {
    a.insert(a.end(), more.begin(), more.end());
    return a;
  };
  cli::RunResult r = Render(
      tmp, with({"-o", tmp / "sine.wav", "--set", "SinePeakDev=20", "--set", "SineModFreq=1000"},
                common));
  ASSERT_EQ(r.status, 0) << r.err;
  const Received sine = Receive(tmp / "sine.wav", 1000, false);
  for (const char* name : {"t.flac", "t.mp3"}) {
    r = Render(tmp,
               with({"-o", tmp / "f.wav", "--input", tmp / name, "--set", "ExtSource=1"}, common));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find(std::string("Input ") + tmp / name + ": " +
                         (name == std::string("t.flac") ? "FLAC, 16 bit" : "MP3") +
                         ", 44100 Hz stereo, resampled to 192000 Hz\n"),
              std::string::npos)
        << r.out;
    const Received file = Receive(tmp / "f.wav", 1000, false);
    std::printf("%s: deviation %.2f Hz at %.4f Hz; sine source %.2f Hz at %.4f Hz\n", name,
                file.deviation, file.frequency, sine.deviation, sine.frequency);
    EXPECT_NEAR(file.deviation / sine.deviation, 1.0, 0.001) << name;
    EXPECT_NEAR(file.frequency / sine.frequency, 1.0, 0.001) << name;
    EXPECT_NEAR(sine.deviation, 20000, 40);
  }

  // Stereo: the FLAC's separation is the one a WAV at the output rate gives.
  ASSERT_TRUE(WriteSound(tmp / "s.flac", kFlac, 44100, 2, 3 * 44100,
                         Tones(44100, 1000, 0.1, 2500, 0.1), error))
      << error;
  ASSERT_TRUE(WriteSound(tmp / "s.wav", kWav, kRate, 2, 3 * kRate,
                         Tones(kRate, 1000, 0.1, 2500, 0.1), error))
      << error;
  Received sep[2];
  for (int k = 0; k < 2; ++k) {
    r = Render(tmp, with({"-o", tmp / "st.wav", "--input", tmp / (k ? "s.wav" : "s.flac"), "--set",
                          "ExtSource=1", "--set", "Stereo=1"},
                         common));
    ASSERT_EQ(r.status, 0) << r.err;
    sep[k] = Receive(tmp / "st.wav", 1000, true);
    std::printf("%s: separation %.2f / %.2f dB\n", k ? "WAV at 192000 Hz" : "FLAC at 44100 Hz",
                sep[k].sepLeft, sep[k].sepRight);
  }
  EXPECT_GT(sep[1].sepLeft, 20);
  EXPECT_NEAR(sep[0].sepLeft, sep[1].sepLeft, 0.5);
  EXPECT_NEAR(sep[0].sepRight, sep[1].sepRight, 0.5);
}

// Standard input: raw frames from a pipe and a WAV from a pipe render what the WAV file does.
TEST(FileSourceRenders, StandardInputRawOrWavEqualsTheFile) {
  TempDir tmp;
  std::string error;
  ASSERT_TRUE(
      WriteSound(tmp / "in.wav", kWav, 44100, 2, 44100, Tones(44100, 700, 0.2, 1900, 0.3), error))
      << error;
  const std::string wav = ReadFile(tmp / "in.wav");
  WriteFile(tmp / "in.raw", wav.substr(wav.size() - 44100 * 4));
  const std::string args = " --seconds 1.5 --set ExtSource=1 --set Stereo=1 -o ";
  std::string cmd = "cd '" + tmp.path() + "' && export XDG_CONFIG_HOME='" + tmp.path() +
                    "/config' && cli='" KELVANE_CLI_PATH "' && " +
                    "\"$cli\" render --input in.wav" + args + "file.wav >/dev/null && " +
                    "cat in.raw | \"$cli\" render --input - --input-rate 44100" + args +
                    "raw.wav >/dev/null && " + "cat in.wav | \"$cli\" render --input -" + args +
                    "pipe.wav >/dev/null";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  const std::string file = ReadFile(tmp / "file.wav");
  ASSERT_EQ(file.size(), 44u + 288000 * 4);
  EXPECT_TRUE(ReadFile(tmp / "raw.wav") == file);
  EXPECT_TRUE(ReadFile(tmp / "pipe.wav") == file);
}

// Inputs that cannot be played: one line naming the file, status 1, no output file.
TEST(FileSourceRenders, UnreadableTruncatedAndNonAudioInputsLeaveNoOutput) {
  TempDir tmp;
  std::string error;
  ASSERT_TRUE(WriteSound(tmp / "cut.flac", kFlac, 44100, 2, 2 * 44100,
                         Tones(44100, 1000, 0.5, 1000, 0.5), error))
      << error;
  const std::string whole = ReadFile(tmp / "cut.flac");
  WriteFile(tmp / "cut.flac", whole.substr(0, whole.size() / 2));
  WriteFile(tmp / "notes.mp3", "these are notes, not sound\n");
  ASSERT_TRUE(
      WriteSound(tmp / "cut.wav", kWav, 44100, 2, 44100, Tones(44100, 1000, 0.5, 1000, 0.5), error))
      << error;
  WriteFile(tmp / "cut.wav", ReadFile(tmp / "cut.wav").substr(0, 100044));
  WriteFile(tmp / "locked.wav", ReadFile(tmp / "cut.flac"));
  ::chmod((tmp / "locked.wav").c_str(), 0);
  std::vector<std::pair<std::string, std::string>> cases = {
      {"cut.flac", "cannot read input " + tmp / "cut.flac: cannot be decoded"},
      {"notes.mp3", "cannot use input " + tmp / "notes.mp3: not an audio file"},
      {"cut.wav", "cannot use input " + tmp / "cut.wav: is truncated: its header gives 176400 "
                                              "bytes of sound, the file holds 100000"},
      {"none.ogg", "cannot use input " + tmp / "none.ogg: No such file or directory"},
  };
  // The superuser reads any file.
  if (::geteuid() != 0) {
    cases.push_back({"locked.wav", "cannot use input " + tmp / "locked.wav: Permission denied"});
  }
  for (const auto& [name, message] : cases) {
    // -q: the error is then the only line.
    const cli::RunResult r = Render(tmp, {"-q", "-o", tmp / "out.wav", "--seconds", "3", "--input",
                                          tmp / name, "--set", "ExtSource=1"});
    EXPECT_EQ(r.status, 1) << name;
    ASSERT_EQ(r.errLines().size(), 1u) << r.err;
    EXPECT_EQ(r.err.rfind("kelvane-cli: " + message, 0), 0u) << r.err;
    EXPECT_FALSE(std::filesystem::exists(tmp / "out.wav")) << name;
  }
  for (const auto& e : std::filesystem::directory_iterator(tmp.path())) {
    const std::string name = e.path().filename().string();
    EXPECT_TRUE(name == "cut.flac" || name == "cut.wav" || name == "notes.mp3" ||
                name == "locked.wav" || name == "config")
        << name;
  }
}

}  // namespace
}  // namespace kelvane::receiver
