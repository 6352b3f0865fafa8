// SPDX-License-Identifier: GPL-3.0-or-later
// Engine + resampler to the SDR's rate, as the writer thread and the owner share one core:
// real-time factor (wall clock) of filling the live 65536-frame block at 192000 Hz and
// converting it to the device rate in the writer's 960-frame turns.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "Modulator.h"
#include "SdrResampler.h"

namespace {

using namespace kelvane;

class BenchControls : public ControlSource {
 public:
  ControlSnapshot snap = ControlSnapshot::FirstRun();
  void ReadControls(ControlSnapshot& out) override { out = snap; }
  std::size_t ReadPIText(char* out, std::size_t capacity) override { return Copy(out, capacity); }
  std::size_t ReadPSText(char* out, std::size_t capacity) override { return Copy(out, capacity); }

 private:
  static std::size_t Copy(char* out, std::size_t capacity) {
    if (capacity > 4) std::memcpy(out, "D3C2", 5);
    return 4;
  }
};

void EngineAndResampler(benchmark::State& state) {
  const int rate = 192000;
  const double deviceRate = static_cast<double>(state.range(0));
  BenchControls controls;
  controls.snap.params[ParamId::CarrierFreq] = 12000;
  controls.snap.stereo = true;
  controls.snap.rds = true;
  Modulator m(controls);
  m.SetFrameRate(rate);
  m.BeginRun(SourceInput);
  const int size = 262144;  // the live block of the 250 ms setting: 65536 frames
  const int frames = size / 4;
  std::vector<uint8_t> block(size), capture(size);
  for (int i = 0; i < frames; ++i) {
    const auto l = static_cast<int16_t>(8000.0 * std::sin(2.0 * M_PI * 440.0 * i / rate));
    std::memcpy(&capture[4 * static_cast<std::size_t>(i)], &l, 2);
    std::memcpy(&capture[4 * static_cast<std::size_t>(i) + 2], &l, 2);
  }
  // The writer's turn: 960 frames (5 ms).
  const std::size_t turn = 960;
  sdr::SdrResampler resampler;
  std::string error;
  if (!resampler.Open(rate, deviceRate, turn, error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  std::vector<float> out(2 * resampler.MaxOutFrames());
  for (auto _ : state) {
    m.AudioIn1BufferFilled(capture.data(), size);
    m.AudioOut1FillBuffer(block.data(), size);
    const auto* iq = reinterpret_cast<const int16_t*>(block.data());
    for (std::size_t first = 0; first + turn <= static_cast<std::size_t>(frames); first += turn) {
      benchmark::DoNotOptimize(resampler.Process(iq + 2 * first, turn, out.data()));
    }
    benchmark::ClobberMemory();
  }
  state.counters["realtime_x"] = benchmark::Counter(
      static_cast<double>(frames) / rate * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate);
}
BENCHMARK(EngineAndResampler)
    ->Arg(2000000)
    ->Arg(8000000)
    ->Arg(20000000)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
