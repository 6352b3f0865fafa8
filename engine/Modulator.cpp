// SPDX-License-Identifier: GPL-3.0-or-later
// The fill routine and its helpers. A block is processed in chunks, stage by stage over arrays:
// the sequential recursions (phases, IIR sections, RDS timing, queue reads, delay-line pushes)
// run as tight scalar loops, the filters and sines as vector kernels. The persistent state is
// the same at the end of every block as after the frame-by-frame algorithm.
#include "Modulator.h"

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <utility>

#include "AudioFilters.h"
#include "DelayPass.h"
#include "FastKernels.h"
#include "Filters.h"
#include "PhaseWrap.h"
#include "Rds.h"

namespace kelvane {

static_assert(std::endian::native == std::endian::little, "output frames are little-endian");

namespace {
constexpr int C = Modulator::kChunkFrames;
constexpr int P = fast::kReadPad;
constexpr double kTurn = kTwoPiF;  // the carrier wraps by the same full turn as the pilot
static_assert(AudioFilters::kMaxFrames >= C, "the audio filters take a whole chunk");
}  // namespace

struct EngineScratch {
  alignas(64) int16_t in[2 * C];
  alignas(64) float lr[2 * C + P];     // input frames as floats, then after the input filters
  alignas(64) int16_t capture[2 * C];  // the capture handler's own, it may run on another thread
  alignas(64) float pp[C + P];
  alignas(64) float s1[C + P];
  alignas(64) float sum[C + P];
  alignas(64) float dif[C + P];
  alignas(64) float o3[C + P];
  alignas(64) float mpx[C + P];
  alignas(64) float aa[kMpxAATaps + 2 * C + P];  // interpolator inputs, oldest first
  alignas(64) float d[2 * C + P];
  alignas(64) double phE[C + P];  // carrier phase of sub-step 0 / 1
  alignas(64) double phO[C + P];
  alignas(64) float iE[C + P];
  alignas(64) float iO[C + P];
  alignas(64) float qE[C + P];
  alignas(64) float qO[C + P];
  alignas(64) float rIE[C + P];  // delay-line element read by the reflection
  alignas(64) float rIO[C + P];
  alignas(64) float rQE[C + P];
  alignas(64) float rQO[C + P];
  float histI[kDelayLength + 2 * C];  // delay-line contents, oldest first
  float histQ[kDelayLength + 2 * C];
  // Output-filter inputs, oldest first, split by sub-step: the 76-sample history then the chunk.
  alignas(64) float xIE[kRFTaps / 2 + C + P];
  alignas(64) float xIO[kRFTaps / 2 + C + P];
  alignas(64) float xQE[kRFTaps / 2 + C + P];
  alignas(64) float xQO[kRFTaps / 2 + C + P];
  alignas(64) float outI[C + P];
  alignas(64) float outQ[C + P];
};

Modulator::Modulator(ControlSource& controls)
    : controls_(controls),
      scratch_(std::make_unique<EngineScratch>()),
      audio_(std::make_unique<AudioFilters>()) {
  audio_->Design(frameRate_);
}

Modulator::~Modulator() = default;

void Modulator::SetFrameRate(int hz) {
  frameRate_ = hz;
  audio_->Design(hz);
}

void Modulator::BeginRun(int sourceMode) {
  state_.StopRequested = false;
  ClearPm();
  state_.CapInL.fill(0);
  state_.CapInR.fill(0);
  state_.ClippedSamples = 0;
  state_.SourceMode = sourceMode;
  audio_->Reset();
  ResetRdsRun(state_);
}

bool Modulator::AudioOut1FillBuffer(uint8_t* buffer, const int& size) {
  controls_.ReadControls(snapshot_);
  const int mode = state_.SourceMode;
  if (mode != SourceSine && mode != SourceInput) return !state_.StopRequested;
  params_ = MakeBlockParams(snapshot_, frameRate_, mode);
  // The multipath switch, like every other control, holds for the whole block.
  multipath_ = controls_.MultipathFlag().load(std::memory_order_relaxed);
  const int frames = size > 0 ? size / 4 : 0;
  for (int first = 0; first < frames; first += C) {
    SetRdsChunk(state_, snapshot_, frameRate_, first);
    FillChunk(buffer + 4 * static_cast<std::size_t>(first), std::min(C, frames - first), first);
  }
  return !state_.StopRequested;
}

void Modulator::MpxSine(int n) {
  EngineScratch& w = *scratch_;
  const float inc = params_.PhaseInc;
  float pp = state_.PilotPhase;
  for (int k = 0; k < n; ++k) {
    pp = WrapPilotPhase(pp + inc);
    w.pp[k] = pp;
  }
  state_.PilotPhase = pp;
  fast::SinF(w.pp, w.s1, n);
  // The unit sine is L = R: emphasised before the deviation scale, so the meters see it.
  audio_->Process(w.s1, n, 1, params_.PreEmphasis, false);
  fast::Scale(w.s1, params_.DevScale, w.mpx, n);
}

namespace {

// The sequential part of the sound-card source: queue, input filters, pilot phase, RDS timing
// and pulse shaping, one frame after the other. Instantiated per switch combination so the
// loop carries no tests of block constants.
typedef float v4f __attribute__((vector_size(16)));

template <bool kFilters, bool kNotch, bool kRds>
__attribute__((always_inline)) inline void InputFrames(EngineState& s, const BlockParams& b,
                                                       EngineScratch& w, ControlSource& controls,
                                                       int n) {
  for (int i = 0; i < 2 * n; ++i) w.lr[i] = static_cast<float>(w.in[i]);
  // Left and right run through the same filters: lanes 0 and 1 of one vector, each lane with
  // exactly the scalar operations. The filtered pair goes back in place.
  v4f dc = {s.DCBlockState[0], s.DCBlockState[1], 0.0f, 0.0f};
  v4f n1 = {s.PilotNotchState[0][0], s.PilotNotchState[1][0], 0.0f, 0.0f};
  v4f n2 = {s.PilotNotchState[0][1], s.PilotNotchState[1][1], 0.0f, 0.0f};
  float a1 = s.RDSShapeState[0][0], a2 = s.RDSShapeState[0][1];
  float b1 = s.RDSShapeState[1][0], b2 = s.RDSShapeState[1][1];
  float c1 = s.RDSShapeState[2][0], c2 = s.RDSShapeState[2][1];
  float pp = s.PilotPhase;
  float impulse = s.RDSImpulse;
  const float inc = b.PhaseInc;
  const float gain = b.RDSGain;
  for (int k = 0; k < n; ++k) {
    if (kFilters || kNotch) {
      // Two-float loads and stores straight to and from the register (a partial copy through
      // the stack would defeat store forwarding and serialise the loop).
      v4f x = _mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64*>(w.lr + 2 * k));
      if (kFilters) {
        const v4f y = 0.999592f * dc + x;
        x = 0.999796f * y - 0.999796f * dc;
        dc = y;
      }
      if (kNotch) {
        const v4f y = 1.436962f * n1 + x - 0.7678147f * n2;
        x = 0.8839074f * y - 1.436962f * n1 + 0.8839074f * n2;
        n2 = n1;
        n1 = y;
      }
      _mm_storel_pi(reinterpret_cast<__m64*>(w.lr + 2 * k), x);
    }
    pp = pp + inc;
    impulse = 0.0f;
    if (pp >= kTwoPiF) [[unlikely]] {
      pp = pp - kTwoPiF;
      if (kRds) {
        if (++s.PilotCycleCount >= 16) {
          s.PilotCycleCount = 0;
          GetNextRDSBit(s, controls, k);
          impulse = s.RDSDiffBit ? 1.0f : -1.0f;
        }
        if (s.PilotCycleCount == 8) impulse = s.RDSDiffBit ? -1.0f : 1.0f;
      }
    }
    w.pp[k] = pp;
    if (kRds) {
      const float y1 = 1.940058f * a1 + impulse - 0.941991f * a2;
      const float o1 = y1 - 1.980785f * a1 + a2;
      a2 = a1;
      a1 = y1;
      const float y2 = gain * o1 + 1.94419f * b1 - 0.9487893f * b2;
      const float o2 = 2.0f * b1 + y2 + b2;
      b2 = b1;
      b1 = y2;
      const float y3 = 1.8762477f * c1 + o2 - 0.880687f * c2;
      w.o3[k] = 2.0f * c1 + y3 + c2;
      c2 = c1;
      c1 = y3;
    }
  }
  s.DCBlockState = {dc[0], dc[1]};
  s.PilotNotchState[0] = {n1[0], n2[0]};
  s.PilotNotchState[1] = {n1[1], n2[1]};
  s.RDSShapeState[0] = {a1, a2};
  s.RDSShapeState[1] = {b1, b2};
  s.RDSShapeState[2] = {c1, c2};
  s.PilotPhase = pp;
  if (n > 0) s.RDSImpulse = impulse;
}

// Each variant built twice: with AVX2 (three-operand encoding, about a fifth fewer
// instructions in this loop) and for the baseline instruction set.
template <int kIndex>
__attribute__((target("avx2"))) void InputFramesAvx2(EngineState& s, const BlockParams& b,
                                                     EngineScratch& w, ControlSource& controls,
                                                     int n) {
  InputFrames<(kIndex & 4) != 0, (kIndex & 2) != 0, (kIndex & 1) != 0>(s, b, w, controls, n);
}
template <int kIndex>
void InputFramesBase(EngineState& s, const BlockParams& b, EngineScratch& w,
                     ControlSource& controls, int n) {
  InputFrames<(kIndex & 4) != 0, (kIndex & 2) != 0, (kIndex & 1) != 0>(s, b, w, controls, n);
}

using InputFramesFn = void (*)(EngineState&, const BlockParams&, EngineScratch&, ControlSource&,
                               int);
template <int... kIndex>
constexpr std::array<InputFramesFn, 16> InputTable(std::integer_sequence<int, kIndex...>) {
  return {&InputFramesBase<kIndex>..., &InputFramesAvx2<kIndex>...};
}
constexpr std::array<InputFramesFn, 16> kInputFrames =
    InputTable(std::make_integer_sequence<int, 8>());

bool HasAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}
const bool kAvx2 = HasAvx2();

}  // namespace

void Modulator::MpxInput(int n) {
  EngineScratch& w = *scratch_;
  const BlockParams& b = params_;
  queue_.ReadSamples(w.in, 2 * n);
  const int variant =
      (kAvx2 ? 8 : 0) | (b.InputFilters ? 4 : 0) | (b.PilotNotch ? 2 : 0) | (b.RDSOn ? 1 : 0);
  kInputFrames[variant](state_, b, w, controls_, n);
  // Emphasis and low-pass between the input filters and the stereo matrix.
  audio_->Process(w.lr, n, 2, b.PreEmphasis, b.AudioLowPass);
  const float lrLevel = b.LRLevel;
  for (int k = 0; k < n; ++k) {
    const float l = w.lr[2 * k], r = w.lr[2 * k + 1];
    w.sum[k] = l + r;
    w.dif[k] = (l - r) * lrLevel;
  }

  const fast::InputMpxParams mp{b.StereoOn, b.RDSOn, b.PilotDev, b.DevScale, b.Phase38, b.RDSPhase};
  fast::InputMpx(w.pp, w.sum, w.dif, w.o3, mp, w.mpx, n);
}

void Modulator::FillChunk(uint8_t* out, int n, int firstFrame) {
  EngineScratch& w = *scratch_;
  EngineState& s = state_;
  const BlockParams& b = params_;
  const int steps = 2 * n;

  // MPX per frame.
  if (s.SourceMode == SourceInput) {
    MpxInput(n);
  } else {
    MpxSine(n);
  }

  // Interpolator: each half-frame value enters twice.
  for (int i = 0; i < kMpxAATaps; ++i) w.aa[i] = s.MPXAARing[(s.MPXAAIndex + i) % kMpxAATaps];
  for (int k = 0; k < n; ++k) {
    const float h = 0.5f * w.mpx[k];
    w.aa[kMpxAATaps + 2 * k] = h;
    w.aa[kMpxAATaps + 2 * k + 1] = h;
  }
  fast::MpxAA(w.aa, w.d, steps);
  s.MPXAAIndex = (s.MPXAAIndex + steps) % kMpxAATaps;
  for (int i = 0; i < kMpxAATaps; ++i)
    s.MPXAARing[(s.MPXAAIndex + i) % kMpxAATaps] = w.aa[steps + i];

  // Meter: peaks over the chunk, the power sum in order and split where UpdatePm falls due.
  fast::PeakMinMax(w.mpx, n, &s.DevMax, &s.DevMin);
  for (int k = 0; k < n && firstFrame + k < kCaptureFrames; ++k) {
    s.CapMpx[firstFrame + k] = w.mpx[k];
  }
  // Carrier phase and its sines with the power sum, split where UpdatePm falls due.
  {
    const fast::CarrierIo io{w.d,
                             w.mpx,
                             w.phE,
                             w.phO,
                             w.iE,
                             w.iO,
                             w.qE,
                             w.qO,
                             static_cast<double>(b.CarrierInc),
                             static_cast<double>(b.QPhase),
                             kTurn};
    double ph = s.CarrierPhase;
    for (int k = 0; k < n;) {
      const int end = k + std::clamp(b.FrameRate - s.PmSamples, 1, n - k);
      fast::CarrierRun(io, k, end, &ph, &s.PmAcc);
      s.PmSamples += end - k;
      k = end;
      if (s.PmSamples >= b.FrameRate) UpdatePm();
    }
    s.CarrierPhase = ph;
  }

  // Delay lines, in sub-step order; switched off, they stay as they are and add nothing.
  if (multipath_) {
    const DelayRun run{{w.iE, w.iO}, {w.qE, w.qO}, {w.rIE, w.rIO}, {w.rQE, w.rQO}, n,
                       w.histI,      w.histQ};
    RunDelayLines(s, b.DelaySamples, run);
  }

  // Output filter: history from the rings, then the chunk's I/Q samples by sub-step parity.
  constexpr int H = kRFTaps / 2;
  for (int i = 0; i < kRFTaps; ++i) {
    const int pos = (s.RFIndex + i) % kRFTaps;
    float* dstI = (i & 1) ? w.xIO : w.xIE;
    float* dstQ = (i & 1) ? w.xQO : w.xQE;
    dstI[i / 2] = s.RFRing[0][pos];
    dstQ[i / 2] = s.RFRing[1][pos];
  }
  if (multipath_) {
    fast::MixReflection(w.rIE, w.iE, b.ReflectedPct, b.AmpI, w.xIE + H, n);
    fast::MixReflection(w.rIO, w.iO, b.ReflectedPct, b.AmpI, w.xIO + H, n);
    fast::MixReflection(w.rQE, w.qE, b.ReflectedPct, b.AmpQ, w.xQE + H, n);
    fast::MixReflection(w.rQO, w.qO, b.ReflectedPct, b.AmpQ, w.xQO + H, n);
  } else {
    // (0 * pct / 100 + x) * amp is x * amp: the same values without the reflection term.
    fast::Scale(w.iE, b.AmpI, w.xIE + H, n);
    fast::Scale(w.iO, b.AmpI, w.xIO + H, n);
    fast::Scale(w.qE, b.AmpQ, w.xQE + H, n);
    fast::Scale(w.qO, b.AmpQ, w.xQO + H, n);
  }
  fast::RfFir(w.xIE, w.xIO, w.outI, n);
  fast::RfFir(w.xQE, w.xQO, w.outQ, n);
  s.RFIndex = (s.RFIndex + steps) % kRFTaps;
  for (int i = 0; i < kRFTaps; ++i) {
    const int pos = (s.RFIndex + i) % kRFTaps;
    const int src = steps + i;  // chronological position of the i-th oldest remaining sample
    s.RFRing[0][pos] = (src & 1) ? w.xIO[src / 2] : w.xIE[src / 2];
    s.RFRing[1][pos] = (src & 1) ? w.xQO[src / 2] : w.xQE[src / 2];
  }

  // DC offset, saturation to 16 bits, truncation toward zero.
  s.ClippedSamples +=
      static_cast<std::uint64_t>(fast::ToPcm(w.outI, w.outQ, b.DCOffsetI, b.DCOffsetQ, out, n));
  for (int k = 0; k < n && firstFrame + k < kCaptureFrames; ++k) {
    int16_t iq[2];
    std::memcpy(iq, out + 4 * static_cast<std::size_t>(k), sizeof iq);
    s.CapOutI[firstFrame + k] = iq[0];
    s.CapOutQ[firstFrame + k] = iq[1];
  }
  TrimChannels(s.Trim, b.ChannelDelay, b.IQSwap, out, n);
}

Modulator::CaptureResult Modulator::AudioIn1BufferFilled(const uint8_t* buffer, int size) {
  const int frames = size / 4;
  int lPeak = 10, rPeak = 10;
  if (size >= 4) {
    queue_.AddFrames(buffer, frames);
    for (int i = 0; i < frames && i < kCaptureFrames; ++i) {
      const uint8_t* f = buffer + 4 * static_cast<std::size_t>(i);
      state_.CapInL[i] = static_cast<int16_t>(f[0] | (f[1] << 8));
      state_.CapInR[i] = static_cast<int16_t>(f[2] | (f[3] << 8));
    }
    // Peaks in slices through an aligned copy (the buffer itself may be unaligned).
    int16_t* tmp = scratch_->capture;
    for (int first = 0; first < frames; first += C) {
      const int k = std::min(C, frames - first);
      std::memcpy(tmp, buffer + 4 * static_cast<std::size_t>(first),
                  4 * static_cast<std::size_t>(k));
      fast::PeakAbs(tmp, k, &lPeak, &rPeak);
    }
  }
  return {!state_.StopRequested, static_cast<float>(lPeak) / 32768.0f,
          static_cast<float>(rPeak) / 32768.0f};
}

void Modulator::SetPowerText(double value) {
  FormatReading(value, power_.text, sizeof power_.text);
  ++power_.serial;
}

void Modulator::ClearPm() {
  state_.PmIndex = 0;
  state_.PmCount = 0;
  SetPowerText(-90.0);
  state_.PmSamples = 0;
  state_.PmAcc = 0.0;
  power_.green = false;
  ++power_.serial;
}

void Modulator::UpdatePm() {
  EngineState& s = state_;
  s.PmSamples = 0;
  s.PmRing[s.PmIndex] = s.PmAcc;
  s.PmAcc = 0.0;
  if (++s.PmIndex == kPmRingSize) s.PmIndex = 0;
  if (s.PmCount == kPmRingSize - 1) power_.green = true;
  s.PmCount = std::min(s.PmCount + 1, kPmRingSize);
  double sum = 0.0;
  for (int i = 0; i < s.PmCount; ++i) sum += s.PmRing[i];
  double p = sum / s.PmCount / params_.FrameRate;
  // The reading refers to the deviation in Hz whatever the rate: per-sample phase steps scale
  // with 1 / rate, so their power is brought to the 192000 Hz units of the 7.14 dB reference
  // (a factor of exactly 1 at that rate).
  const double toReference = params_.FrameRate / 192000.0;
  p = p * (toReference * toReference);
  if (p < 1.93e-10) p = 1.93e-10;
  SetPowerText(10.0 * std::log10(p) + 7.14);
}

void Modulator::TakePeakDeviation(char* text, std::size_t capacity) {
  const double fs = frameRate_;
  const double dMax = static_cast<double>(state_.DevMax) * fs / 6283.185307179586477;
  const double dMin = static_cast<double>(state_.DevMin) * fs / 6283.185307179586477;
  double peak = dMax;
  if (-dMin > dMax) peak = -dMin;
  FormatReading(peak, text, capacity);
  state_.DevMax = 0.0f;
  state_.DevMin = 0.0f;
}

}  // namespace kelvane
