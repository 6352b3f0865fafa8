// SPDX-License-Identifier: GPL-3.0-or-later
// The audio-file reader and the file source: exact pass-through, seamless loops across the
// rate converter, the converter's passband and image rejection, and the refusals.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>
#include <vector>

#include "AudioFileReader.h"
#include "FileSource.h"
#include "SoundFiles.h"
#include "TempDir.h"

namespace kelvane {
namespace {

using testing::SampleAt;
using testing::TempDir;
using testing::WriteFile;
using testing::WriteSound;

constexpr int kWav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
constexpr int kFlac16 = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;

// Noise-like but reproducible full-range content, so any shifted or repeated frame shows.
SampleAt Pattern() {
  return [](int c, long n) {
    const unsigned v = static_cast<unsigned>(n) * 2654435761u + static_cast<unsigned>(c) * 40503u;
    return static_cast<double>(static_cast<std::int16_t>(v >> 16)) / 32767.0;
  };
}

std::vector<std::int16_t> ReadAll(AudioFileReader& r, std::size_t frames) {
  std::vector<std::int16_t> v(2 * frames);
  v.resize(2 * r.Read(v.data(), frames));
  return v;
}

// Amplitude of the tone at `freq` in one channel (Hann window, whole signal).
double ToneLevel(const std::vector<std::int16_t>& v, int channel, double freq, double rate) {
  const std::size_t n = v.size() / 2;
  std::complex<double> acc;
  for (std::size_t k = 0; k < n; ++k) {
    const double w =
        0.5 - 0.5 * std::cos(2 * M_PI * static_cast<double>(k) / static_cast<double>(n));
    acc += w * v[2 * k + static_cast<std::size_t>(channel)] *
           std::polar(1.0, -2 * M_PI * freq * static_cast<double>(k) / rate);
  }
  return 4.0 * std::abs(acc) / static_cast<double>(n);
}

TEST(AudioFileReader, SixteenBitAtTheTargetRatePassesExactlyAndMonoFeedsBothChannels) {
  TempDir tmp;
  std::string error;
  const std::string stereo = tmp / "s.wav", mono = tmp / "m.flac";
  ASSERT_TRUE(WriteSound(stereo, kWav16, 48000, 2, 5000, Pattern(), error)) << error;
  ASSERT_TRUE(WriteSound(mono, kFlac16, 48000, 1, 5000, Pattern(), error)) << error;
  AudioFileReader r;
  ASSERT_TRUE(r.Open(stereo, 48000, error)) << error;
  EXPECT_EQ(r.Info().format, "WAV, 16 bit");
  EXPECT_EQ(r.Info().frames, 5000);
  const std::vector<std::int16_t> s = ReadAll(r, 6000);
  ASSERT_EQ(s.size(), 10000u);
  const std::string bytes = testing::ReadFile(stereo);
  EXPECT_EQ(std::memcmp(s.data(), bytes.data() + bytes.size() - 20000, 20000), 0);
  EXPECT_FALSE(r.Failed());

  AudioFileReader m;
  ASSERT_TRUE(m.Open(mono, 48000, error)) << error;
  EXPECT_EQ(m.Info().format, "FLAC, 16 bit");
  EXPECT_EQ(m.Info().channels, 1);
  const std::vector<std::int16_t> v = ReadAll(m, 6000);
  ASSERT_EQ(v.size(), 10000u);
  for (std::size_t k = 0; k < 5000; ++k) {
    ASSERT_EQ(v[2 * k], s[2 * k]) << k;  // the left channel of the stereo file
    ASSERT_EQ(v[2 * k + 1], s[2 * k]) << k;
  }
}

TEST(FileSource, LoopsSeamlesslyAndEndsWithSilenceWithoutLoop) {
  TempDir tmp;
  std::string error;
  const std::string exact = tmp / "x.wav", tone = tmp / "t.flac";
  ASSERT_TRUE(WriteSound(exact, kWav16, 48000, 2, 7001, Pattern(), error)) << error;
  // 0.1 s at 44100 Hz holds 100 whole cycles of 1 kHz: looped, it is one unbroken tone.
  ASSERT_TRUE(
      WriteSound(tone, kFlac16, 44100, 2, 4410, testing::Tones(44100, 1000, 0.5, 1000, 0.5), error))
      << error;
  const std::string bytes = testing::ReadFile(exact);
  const std::uint8_t* file =
      reinterpret_cast<const std::uint8_t*>(bytes.data()) + bytes.size() - 7001 * 4;

  // The ring holds two seconds from the open on, far more than pulled here: nothing waits.
  FileSource looped;
  ASSERT_TRUE(looped.Open(exact, 48000, true, error)) << error;
  std::vector<std::uint8_t> got(3 * 7001 * 4);
  for (std::size_t at = 0; at < 3 * 7001; at += 1000) {
    const std::size_t n = std::min<std::size_t>(1000, 3 * 7001 - at);
    ASSERT_EQ(looped.PullFrames(got.data() + 4 * at, n), n);
  }
  for (int pass = 0; pass < 3; ++pass) {
    EXPECT_EQ(std::memcmp(got.data() + pass * 7001 * 4, file, 7001 * 4), 0) << pass;
  }
  EXPECT_FALSE(looped.Ended());

  FileSource converted;
  ASSERT_TRUE(converted.Open(tone, 192000, true, error)) << error;
  std::vector<std::int16_t> t(2 * 3 * 19200);
  ASSERT_EQ(converted.PullFrames(reinterpret_cast<std::uint8_t*>(t.data()), 3 * 19200), 3 * 19200u);
  // After the converter's start, across both joints: the ideal tone within two counts.
  double worst = 0;
  for (std::size_t n = 2000; n < 3 * 19200; ++n) {
    const double want = 0.5 * 32768 * std::sin(2 * M_PI * 1000 * static_cast<double>(n) / 192000);
    worst = std::max(worst, std::abs(t[2 * n] - want));
  }
  EXPECT_LT(worst, 2.0);

  FileSource once;
  ASSERT_TRUE(once.Open(exact, 48000, false, error)) << error;
  std::vector<std::uint8_t> all(8000 * 4, 0xEE);
  EXPECT_EQ(once.PullFrames(all.data(), 8000), 7001u);
  EXPECT_EQ(std::memcmp(all.data(), file, 7001 * 4), 0);
  EXPECT_EQ(std::vector<std::uint8_t>(all.begin() + 7001 * 4, all.end()),
            std::vector<std::uint8_t>(999 * 4, 0));
  EXPECT_TRUE(once.Ended());
  EXPECT_EQ(once.Shortfalls(), 0u);
  EXPECT_EQ(once.Error(), "");
}

// The converter from 44100 to 192000 Hz: flat over the audio band and no images of the band
// above 22.05 kHz. A float file keeps the source's own quantisation out of the figures.
TEST(AudioFileReader, ConversionIsFlatAndRejectsImages) {
  TempDir tmp;
  std::string error;
  double lo = 1e9, hi = 0, worstImage = 0;
  for (const double f : {20.0, 100.0, 1000.0, 5000.0, 10000.0, 15000.0, 19000.0, 20000.0}) {
    const std::string path = tmp / "f.wav";
    ASSERT_TRUE(WriteSound(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 2, 44100,
                           testing::Tones(44100, f, 0.5, f, 0.5), error))
        << error;
    AudioFileReader r;
    ASSERT_TRUE(r.Open(path, 192000, error)) << error;
    EXPECT_EQ(r.Info().format, "WAV, 32-bit float");
    std::vector<std::int16_t> v = ReadAll(r, 200000);
    ASSERT_EQ(v.size(), 2u * 192000);
    // The middle 0.5 s, clear of the edges of the file.
    v = std::vector<std::int16_t>(v.begin() + 2 * 48000, v.begin() + 2 * 144000);
    const double level = ToneLevel(v, 0, f, 192000) / (0.5 * 32768);
    lo = std::min(lo, level), hi = std::max(hi, level);
    std::printf("%.0f Hz: %.5f dB\n", f, 20 * std::log10(level));
    const double image = ToneLevel(v, 1, 44100 - f, 192000) / (0.5 * 32768);
    if (f >= 1000) worstImage = std::max(worstImage, image);
  }
  const double ripple = 20 * std::log10(hi / lo), rejection = -20 * std::log10(worstImage);
  std::printf(
      "44100 -> 192000 Hz: passband 20 Hz..20 kHz within %.4f dB (%.5f..%.5f), images "
      "of 1..20 kHz at least %.1f dB down\n",
      ripple, lo, hi, rejection);
  EXPECT_LT(ripple, 0.01);
  EXPECT_GT(rejection, 100);
}

TEST(AudioFileReader, RefusesWhatItCannotPlayWithTheFileNamed) {
  TempDir tmp;
  std::string error;
  AudioFileReader r;
  EXPECT_FALSE(r.Open(tmp / "none.flac", 48000, error));
  EXPECT_EQ(error, tmp / "none.flac" + ": No such file or directory");
  EXPECT_FALSE(r.Open(tmp.path(), 48000, error));
  EXPECT_EQ(error, tmp.path() + ": is a folder, not an audio file");
  WriteFile(tmp / "notes.wav", "these are notes, not sound\n");
  EXPECT_FALSE(r.Open(tmp / "notes.wav", 48000, error));
  EXPECT_EQ(error.rfind(tmp / "notes.wav: not an audio file libsndfile can read", 0), 0u) << error;
  ASSERT_TRUE(WriteSound(tmp / "3.wav", kWav16, 48000, 3, 100, Pattern(), error)) << error;
  EXPECT_FALSE(r.Open(tmp / "3.wav", 48000, error));
  EXPECT_EQ(error, tmp / "3.wav" + ": has 3 channels; only mono and stereo files can be played");

  // A FLAC cut short: the open succeeds, the decoding stops with the reason.
  ASSERT_TRUE(WriteSound(tmp / "cut.flac", kFlac16, 44100, 2, 44100, Pattern(), error)) << error;
  const std::string whole = testing::ReadFile(tmp / "cut.flac");
  WriteFile(tmp / "cut.flac", whole.substr(0, whole.size() / 2));
  ASSERT_TRUE(r.Open(tmp / "cut.flac", 48000, error)) << error;
  ReadAll(r, 100000);
  EXPECT_TRUE(r.Failed());
  EXPECT_EQ(r.Error().rfind(tmp / "cut.flac: ", 0), 0u) << r.Error();
  std::printf("truncated: %s\n", r.Error().c_str());
  FileSource source;
  EXPECT_FALSE(source.Open(tmp / "cut.flac", 48000, false, error));
  EXPECT_EQ(error, r.Error());
  EXPECT_FALSE(source.IsOpen());
}

}  // namespace
}  // namespace kelvane
