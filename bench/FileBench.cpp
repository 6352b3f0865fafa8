// SPDX-License-Identifier: GPL-3.0-or-later
// The file source's cost: decoding an audio file and converting it to 192000 Hz, as its reader
// thread does, in frames at the output rate per CPU second.
#include <benchmark/benchmark.h>
#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "AudioFileReader.h"

namespace {

using namespace kelvane;

constexpr int kOutRate = 192000;
constexpr std::size_t kBlockFrames = 65536;  // a 250 ms live block at 192000 Hz

// Ten seconds of two tones and a little noise (so the codec has something to code).
std::string MakeFile(int format, int rate, const char* ext) {
  const std::string path =
      "/tmp/kelvane-file-bench-" + std::to_string(::getpid()) + "-" + std::to_string(rate) + ext;
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = 2;
  info.format = format;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!f) return {};
  std::vector<float> block(2 * 4410);
  unsigned noise = 1;
  for (int n = 0; n < 10 * rate;) {
    for (std::size_t k = 0; k < block.size() / 2; ++k, ++n) {
      const double t = static_cast<double>(n) / rate;
      noise = noise * 1664525u + 1013904223u;
      const float dither = static_cast<float>(static_cast<int>(noise >> 16) - 32768) / 3.3e6f;
      block[2 * k] = static_cast<float>(0.3 * std::sin(2 * M_PI * 440 * t)) + dither;
      block[2 * k + 1] = static_cast<float>(0.3 * std::sin(2 * M_PI * 1250 * t)) - dither;
    }
    sf_writef_float(f, block.data(), static_cast<sf_count_t>(block.size() / 2));
  }
  sf_close(f);
  return path;
}

void ReadFile(benchmark::State& state, int format, int rate, const char* ext) {
  const std::string path = MakeFile(format, rate, ext);
  AudioFileReader reader;
  std::string error;
  if (path.empty() || !reader.Open(path, kOutRate, error)) {
    state.SkipWithError(("cannot make or open the file: " + error).c_str());
    return;
  }
  reader.SetLoop(true);
  std::vector<std::int16_t> out(2 * kBlockFrames);
  std::size_t frames = 0;
  for (auto _ : state) {
    frames += reader.Read(out.data(), kBlockFrames);
    benchmark::ClobberMemory();
  }
  std::remove(path.c_str());
  state.counters["frames_per_s"] =
      benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
  state.counters["realtime_x"] =
      benchmark::Counter(static_cast<double>(frames) / kOutRate, benchmark::Counter::kIsRate);
}

const int registered = [] {
  benchmark::RegisterBenchmark("AudioFileReader/FLAC44100To192000", ReadFile,
                               SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, ".flac")
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("AudioFileReader/MP3_44100To192000", ReadFile,
                               SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 44100, ".mp3")
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("AudioFileReader/WAV48000To192000", ReadFile,
                               SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, ".wav")
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("AudioFileReader/WAV192000AsItIs", ReadFile,
                               SF_FORMAT_WAV | SF_FORMAT_PCM_16, 192000, ".wav")
      ->Unit(benchmark::kMillisecond);
  return 0;
}();

}  // namespace

BENCHMARK_MAIN();
