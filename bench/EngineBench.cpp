// SPDX-License-Identifier: GPL-3.0-or-later
// Real-time factor of the fill routine for each rate and source, with live buffer sizes.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "Modulator.h"

namespace {

using namespace kelvane;

class BenchControls : public ControlSource {
 public:
  ControlSnapshot snap = ControlSnapshot::FirstRun();
  void ReadControls(ControlSnapshot& out) override { out = snap; }
  std::size_t ReadPIText(char* out, std::size_t capacity) override {
    return Copy("D3C2", out, capacity);
  }
  std::size_t ReadPSText(char* out, std::size_t capacity) override {
    return Copy("KELVANE", out, capacity);
  }

 private:
  static std::size_t Copy(const char* s, char* out, std::size_t capacity) {
    const std::size_t n = std::strlen(s);
    if (capacity > 0) {
      const std::size_t k = n < capacity - 1 ? n : capacity - 1;
      std::memcpy(out, s, k);
      out[k] = '\0';
    }
    return n;
  }
};

// Bytes of a 250 ms playback buffer: the power of two a live run uses at that rate.
int LiveBufferBytes(int rate) {
  return rate >= 192000 ? 262144 : rate >= 96000 ? 131072 : 65536;
}

void FillBuffer(benchmark::State& state, int rate, int source, bool audioFilters) {
  BenchControls controls;
  if (audioFilters) {
    controls.snap.programme.preEmphasis = Emphasis50us;
    controls.snap.programme.audioLowPass = true;
  }
  controls.snap.params[ParamId::CarrierFreq] = 12000;
  if (source == SourceInput) {
    controls.snap.stereo = true;
    controls.snap.rds = rate == 192000;
    controls.snap.params[ParamId::MDelay] = 7;
    controls.SetMultipath(true);
  }
  Modulator m(controls);
  m.SetFrameRate(rate);
  m.BeginRun(source);
  const int size = LiveBufferBytes(rate);
  const int frames = size / 4;
  std::vector<uint8_t> out(size);
  // One block of programme material, captured again before every output block.
  std::vector<uint8_t> capture(size);
  for (int i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / rate;
    const auto l = static_cast<int16_t>(8000.0 * std::sin(2.0 * M_PI * 440.0 * t));
    const auto r = static_cast<int16_t>(6000.0 * std::sin(2.0 * M_PI * 1250.0 * t));
    std::memcpy(&capture[4 * static_cast<std::size_t>(i)], &l, 2);
    std::memcpy(&capture[4 * static_cast<std::size_t>(i) + 2], &r, 2);
  }
  for (auto _ : state) {
    if (source == SourceInput) m.AudioIn1BufferFilled(capture.data(), size);
    benchmark::DoNotOptimize(m.AudioOut1FillBuffer(out.data(), size));
    benchmark::ClobberMemory();
  }
  const double audioSeconds = static_cast<double>(frames) / rate;
  state.counters["realtime_x"] = benchmark::Counter(
      audioSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["frames_per_block"] = frames;
}

const int registered = [] {
  for (int source : {SourceSine, SourceInput}) {
    for (int rate : {44100, 48000, 96000, 192000}) {
      const std::string name = std::string("AudioOut1FillBuffer/") +
                               (source == SourceSine ? "Sine/" : "SoundCard/") +
                               std::to_string(rate);
      benchmark::RegisterBenchmark(name.c_str(), FillBuffer, rate, source, false)
          ->Unit(benchmark::kMillisecond);
    }
  }
  // The same with the pre-emphasis (50 us) and the 15 kHz low-pass on.
  benchmark::RegisterBenchmark("AudioOut1FillBuffer/SoundCardFiltered/192000", FillBuffer, 192000,
                               SourceInput, true)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("AudioOut1FillBuffer/SineFiltered/192000", FillBuffer, 192000,
                               SourceSine, true)
      ->Unit(benchmark::kMillisecond);
  return 0;
}();

}  // namespace

BENCHMARK_MAIN();
