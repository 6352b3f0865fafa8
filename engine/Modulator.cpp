// The fill routine and its helpers. A block is processed in chunks, stage by stage over arrays:
// the sequential recursions (phases, IIR sections, RDS timing, queue reads, delay-line pushes)
// run as tight scalar loops, the filters and sines as vector kernels. The persistent state is
// the same at the end of every block as after the frame-by-frame algorithm.
#include "Modulator.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "DelayPass.h"
#include "FastKernels.h"
#include "Filters.h"
#include "Rds.h"

namespace kelvane {

namespace {
constexpr int C = Modulator::kChunkFrames;
constexpr int P = fast::kReadPad;
constexpr double kTurn = kTwoPiF;  // the carrier wraps by the same full turn as the pilot
}  // namespace

struct EngineScratch {
  alignas(64) int16_t in[2 * C];
  alignas(64) float pp[C + P];
  alignas(64) float arg2[C + P];
  alignas(64) float arg3[C + P];
  alignas(64) float s1[C + P];
  alignas(64) float s2[C + P];
  alignas(64) float s3[C + P];
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
  alignas(64) float rIE[C + P];  // delay-line element read by the reflection, or 0
  alignas(64) float rIO[C + P];
  alignas(64) float rQE[C + P];
  alignas(64) float rQO[C + P];
  float i0[2 * C];  // carrier samples in sub-step order
  float q0[2 * C];
  float rI[2 * C];
  float rQ[2 * C];
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
    : controls_(controls), scratch_(std::make_unique<EngineScratch>()) {}

Modulator::~Modulator() = default;

void Modulator::BeginRun(int sourceMode) {
  state_.StopRequested = false;
  ClearPm();
  state_.CapInL.fill(0);
  state_.CapInR.fill(0);
  state_.SourceMode = sourceMode;
}

bool Modulator::AudioOut1FillBuffer(uint8_t* buffer, const int& size) {
  controls_.ReadControls(snapshot_);
  const int mode = state_.SourceMode;
  if (mode != SourceSine && mode != SourceInput) return !state_.StopRequested;
  params_ = MakeBlockParams(snapshot_, frameRate_, mode);
  const int frames = size > 0 ? size / 4 : 0;
  for (int first = 0; first < frames; first += C) {
    FillChunk(buffer + 4 * static_cast<std::size_t>(first), std::min(C, frames - first), first);
  }
  return !state_.StopRequested;
}

void Modulator::MpxSine(int n) {
  EngineScratch& w = *scratch_;
  const float inc = params_.PhaseInc;
  float pp = state_.PilotPhase;
  for (int k = 0; k < n; ++k) {
    pp = pp + inc;
    if (pp >= kTwoPiF) pp = pp - kTwoPiF;
    w.pp[k] = pp;
  }
  state_.PilotPhase = pp;
  fast::SinF(w.pp, w.s1, n);
  fast::Scale(w.s1, params_.DevScale, w.mpx, n);
}

void Modulator::MpxInput(int n) {
  EngineScratch& w = *scratch_;
  const BlockParams& b = params_;
  EngineState& s = state_;
  queue_.ReadSamples(w.in, 2 * n);

  float dcL = s.DCBlockState[0], dcR = s.DCBlockState[1];
  float nL1 = s.PilotNotchState[0][0], nL2 = s.PilotNotchState[0][1];
  float nR1 = s.PilotNotchState[1][0], nR2 = s.PilotNotchState[1][1];
  float pp = s.PilotPhase;
  const float inc = b.PhaseInc;
  const float lr = b.LRLevel;
  for (int k = 0; k < n; ++k) {
    float l = w.in[2 * k];
    float r = w.in[2 * k + 1];
    if (b.InputFilters) {
      float y = 0.999592f * dcL + l;
      l = 0.999796f * y - 0.999796f * dcL;
      dcL = y;
      y = 0.999592f * dcR + r;
      r = 0.999796f * y - 0.999796f * dcR;
      dcR = y;
    }
    if (b.PilotNotch) {
      float y = 1.436962f * nL1 + l - 0.7678147f * nL2;
      l = 0.8839074f * y - 1.436962f * nL1 + 0.8839074f * nL2;
      nL2 = nL1;
      nL1 = y;
      y = 1.436962f * nR1 + r - 0.7678147f * nR2;
      r = 0.8839074f * y - 1.436962f * nR1 + 0.8839074f * nR2;
      nR2 = nR1;
      nR1 = y;
    }
    w.sum[k] = l + r;
    w.dif[k] = (l - r) * lr;
    pp = pp + inc;
    w.pp[k] = pp;  // overwritten below when it wraps
    s.RDSImpulse = 0.0f;
    if (pp >= kTwoPiF) {
      pp = pp - kTwoPiF;
      w.pp[k] = pp;
      if (b.RDSOn) {
        if (++s.PilotCycleCount >= 16) {
          s.PilotCycleCount = 0;
          GetNextRDSBit(s, controls_);
          s.RDSImpulse = s.RDSDiffBit ? 1.0f : -1.0f;
        }
        if (s.PilotCycleCount == 8) s.RDSImpulse = s.RDSDiffBit ? -1.0f : 1.0f;
      }
    }
    if (b.RDSOn) {
      auto& a = s.RDSShapeState[0];
      auto& bb = s.RDSShapeState[1];
      auto& c = s.RDSShapeState[2];
      const float y1 = 1.940058f * a[0] + s.RDSImpulse - 0.941991f * a[1];
      const float o1 = y1 - 1.980785f * a[0] + a[1];
      a[1] = a[0];
      a[0] = y1;
      const float y2 = b.RDSGain * o1 + 1.94419f * bb[0] - 0.9487893f * bb[1];
      const float o2 = 2.0f * bb[0] + y2 + bb[1];
      bb[1] = bb[0];
      bb[0] = y2;
      const float y3 = 1.8762477f * c[0] + o2 - 0.880687f * c[1];
      w.o3[k] = 2.0f * c[0] + y3 + c[1];
      c[1] = c[0];
      c[0] = y3;
    }
  }
  s.DCBlockState = {dcL, dcR};
  s.PilotNotchState[0] = {nL1, nL2};
  s.PilotNotchState[1] = {nR1, nR2};
  s.PilotPhase = pp;

  if (b.StereoOn) {
    for (int k = 0; k < n; ++k) w.arg2[k] = 2.0f * w.pp[k] + b.Phase38;
    fast::SinF(w.pp, w.s1, n);
    fast::SinF(w.arg2, w.s2, n);
    fast::StereoMpx(w.s1, w.s2, w.sum, w.dif, b.PilotDev, b.DevScale, w.mpx, n);
  } else {
    fast::Scale(w.sum, b.DevScale, w.mpx, n);
  }
  if (b.RDSOn) {
    for (int k = 0; k < n; ++k) w.arg3[k] = 3.0f * w.pp[k] + b.RDSPhase;
    fast::SinF(w.arg3, w.s3, n);
    fast::AddRds(w.s3, w.o3, w.mpx, n);
  }
}

void Modulator::AccumulateMeters(int n, int firstFrame) {
  const float* mpx = scratch_->mpx;
  EngineState& s = state_;
  float devMax = s.DevMax, devMin = s.DevMin;
  for (int k = 0; k < n; ++k) {
    const float m = mpx[k];
    if (m > devMax) devMax = m;
    if (m < devMin) devMin = m;
    s.PmAcc = s.PmAcc + static_cast<double>(m) * static_cast<double>(m);
    if (++s.PmSamples >= params_.FrameRate) UpdatePm();
  }
  s.DevMax = devMax;
  s.DevMin = devMin;
  for (int k = 0; k < n && firstFrame + k < kCaptureFrames; ++k) s.CapMpx[firstFrame + k] = mpx[k];
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
  AccumulateMeters(n, firstFrame);

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

  // Carrier phase, in double precision and in order.
  {
    double ph = s.CarrierPhase;
    const double inc = b.CarrierInc;
    for (int k = 0; k < n; ++k) {
      ph = ph + inc + static_cast<double>(w.d[2 * k]);
      if (ph >= kTurn) ph -= kTurn;
      if (ph <= -kTurn) ph += kTurn;
      w.phE[k] = ph;
      ph = ph + inc + static_cast<double>(w.d[2 * k + 1]);
      if (ph >= kTurn) ph -= kTurn;
      if (ph <= -kTurn) ph += kTurn;
      w.phO[k] = ph;
    }
    s.CarrierPhase = ph;
  }
  fast::SinD(w.phE, w.iE, n);
  fast::SinD(w.phO, w.iO, n);
  const double qPhase = b.QPhase;
  fast::SinDAdd(w.phE, qPhase, w.qE, n);
  fast::SinDAdd(w.phO, qPhase, w.qO, n);

  // Delay lines, in sub-step order; the switch is read on every call.
  {
    for (int k = 0; k < n; ++k) {
      w.i0[2 * k] = w.iE[k];
      w.i0[2 * k + 1] = w.iO[k];
      w.q0[2 * k] = w.qE[k];
      w.q0[2 * k + 1] = w.qO[k];
    }
    const std::atomic<bool>& on = controls_.MultipathFlag();
    RunDelayLines(s, b.DelaySamples, {w.i0, w.q0, w.rI, w.rQ, steps, w.histI, w.histQ},
                  [&on] { return on.load(std::memory_order_relaxed); });
    for (int k = 0; k < n; ++k) {
      w.rIE[k] = w.rI[2 * k];
      w.rIO[k] = w.rI[2 * k + 1];
      w.rQE[k] = w.rQ[2 * k];
      w.rQO[k] = w.rQ[2 * k + 1];
    }
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
  fast::MixReflection(w.rIE, w.iE, b.ReflectedPct, b.AmpI, w.xIE + H, n);
  fast::MixReflection(w.rIO, w.iO, b.ReflectedPct, b.AmpI, w.xIO + H, n);
  fast::MixReflection(w.rQE, w.qE, b.ReflectedPct, b.AmpQ, w.xQE + H, n);
  fast::MixReflection(w.rQO, w.qO, b.ReflectedPct, b.AmpQ, w.xQO + H, n);
  fast::RfFir(w.xIE, w.xIO, w.outI, n);
  fast::RfFir(w.xQE, w.xQO, w.outQ, n);
  s.RFIndex = (s.RFIndex + steps) % kRFTaps;
  for (int i = 0; i < kRFTaps; ++i) {
    const int pos = (s.RFIndex + i) % kRFTaps;
    const int src = steps + i;  // chronological position of the i-th oldest remaining sample
    s.RFRing[0][pos] = (src & 1) ? w.xIO[src / 2] : w.xIE[src / 2];
    s.RFRing[1][pos] = (src & 1) ? w.xQO[src / 2] : w.xQE[src / 2];
  }

  // DC offset, truncation toward zero, saturation to 16 bits.
  auto convert = [](float v) -> int {
    if (v >= 32767.0f) return 32767;
    if (v <= -32768.0f) return -32768;
    return static_cast<int>(v);
  };
  for (int k = 0; k < n; ++k) {
    const int oi = convert(w.outI[k] + b.DCOffsetI);
    const int oq = convert(w.outQ[k] + b.DCOffsetQ);
    const int g = firstFrame + k;
    if (g < kCaptureFrames) {
      s.CapOutI[g] = static_cast<float>(oi);
      s.CapOutQ[g] = static_cast<float>(oq);
    }
    uint8_t* f = out + 4 * k;
    f[0] = static_cast<uint8_t>(oi & 0xFF);
    f[1] = static_cast<uint8_t>((oi >> 8) & 0xFF);
    f[2] = static_cast<uint8_t>(oq & 0xFF);
    f[3] = static_cast<uint8_t>((oq >> 8) & 0xFF);
  }
}

Modulator::CaptureResult Modulator::AudioIn1BufferFilled(const uint8_t* buffer, int size) {
  const int frames = size / 4;
  int lPeak = 10, rPeak = 10;
  if (size >= 4) {
    for (int i = 0; i < frames; ++i) {
      const uint8_t* f = buffer + 4 * static_cast<std::size_t>(i);
      const int16_t l = static_cast<int16_t>(f[0] | (f[1] << 8));
      const int16_t r = static_cast<int16_t>(f[2] | (f[3] << 8));
      queue_.AddFrame(l, r);
      if (i < kCaptureFrames) {
        state_.CapInL[i] = l;
        state_.CapInR[i] = r;
      }
      lPeak = std::max(lPeak, std::abs(static_cast<int>(l)));
      rPeak = std::max(rPeak, std::abs(static_cast<int>(r)));
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
