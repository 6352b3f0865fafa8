// SPDX-License-Identifier: GPL-3.0-or-later
// Time to analyse a recording: 60 s of stereo with RDS at 192000 Hz, read from a WAV file and
// measured completely, as `kelvane-cli analyze FILE` does it.
#include <benchmark/benchmark.h>
#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "Analyzer.h"
#include "IqInput.h"
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
    const std::size_t k = n < capacity - 1 ? n : capacity - 1;
    std::memcpy(out, s, k);
    out[k] = '\0';
    return n;
  }
};

// Renders `seconds` of stereo and RDS at 192000 Hz (1 kHz left, 2.5 kHz right, a calibration
// to undo and a carrier offset) into a WAV file.
std::string RenderFile(int seconds) {
  constexpr int kRate = 192000, kBytes = 262144, kFrames = kBytes / 4;
  const std::string path = "/tmp/kelvane-analyze-bench-" + std::to_string(getpid()) + ".wav";
  BenchControls controls;
  controls.snap.stereo = true;
  controls.snap.rds = true;
  controls.snap.dcCoupled = true;
  controls.snap.params[ParamId::CarrierFreq] = 12000;
  controls.snap.params[ParamId::LRGainRatio] = 0.92;
  controls.snap.params[ParamId::LRPhaseOffset] = -31;
  Modulator m(controls);
  m.SetFrameRate(kRate);
  m.BeginRun(SourceInput);
  std::vector<uint8_t> out(kBytes), capture(kBytes);
  SF_INFO info{};
  info.samplerate = kRate;
  info.channels = 2;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  long n = 0;
  for (long done = 0; done < static_cast<long>(seconds) * kRate; done += kFrames) {
    for (int i = 0; i < kFrames; ++i, ++n) {
      const double t = static_cast<double>(n) / kRate;
      const auto l = static_cast<int16_t>(8000.0 * std::sin(2.0 * M_PI * 1000.0 * t));
      const auto r = static_cast<int16_t>(6000.0 * std::sin(2.0 * M_PI * 2500.0 * t));
      std::memcpy(&capture[4 * static_cast<std::size_t>(i)], &l, 2);
      std::memcpy(&capture[4 * static_cast<std::size_t>(i) + 2], &r, 2);
    }
    m.AudioIn1BufferFilled(capture.data(), kBytes);
    m.AudioOut1FillBuffer(out.data(), kBytes);
    sf_writef_short(f, reinterpret_cast<const short*>(out.data()), kFrames);
  }
  sf_close(f);
  return path;
}

void AnalyseStereoRds60s(benchmark::State& state) {
  const std::string path = RenderFile(60);
  analysis::Measurement m;
  for (auto _ : state) {
    receiver::IqRecording rec;
    analysis::IqFileInfo info;
    std::string error;
    if (!analysis::ReadIqFile(path, analysis::IqReadOptions{}, rec, info, error)) {
      state.SkipWithError(error.c_str());
      break;
    }
    std::string why;
    if (analysis::Analyse(rec, m, why) != analysis::AnalyseStatus::Ok) {
      state.SkipWithError(why.c_str());
      break;
    }
    benchmark::DoNotOptimize(m);
  }
  unlink(path.c_str());
  state.counters["rds_groups"] = m.rds.content.groupsDecoded;
  state.counters["realtime_x"] = benchmark::Counter(60.0 * static_cast<double>(state.iterations()),
                                                    benchmark::Counter::kIsRate);
}
BENCHMARK(AnalyseStereoRds60s)->Unit(benchmark::kSecond)->Iterations(3)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
