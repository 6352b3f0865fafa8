// SPDX-License-Identifier: GPL-3.0-or-later
// Frame-by-frame modulator used as the test oracle.
#include "Reference.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

namespace kelvane::ref {

namespace {
const float kAACoef[18] = {0.0026865809f, -0.0037780362f, -0.012465218f, 0.01578492f, 0.03760243f,
                           -0.046028208f, -0.10302734f,   0.12758814f,   0.4813489f,  0.4813489f,
                           0.12758814f,   -0.10302734f,   -0.046028208f, 0.03760243f, 0.01578492f,
                           -0.012465218f, -0.0037780362f, 0.0026865809f};
const float kRFHalf[38] = {
    5.8672824e-05f, -0.005556463f, 0.015383442f,   -0.018536575f,  0.006902521f,   0.007538057f,
    -0.006470929f,  -0.005221516f, 0.0060530547f,  0.0048559057f,  -0.0061471374f, -0.0051502516f,
    0.00662412f,    0.0057582413f, -0.0073866406f, -0.0065896767f, 0.008404902f,   0.0076279016f,
    -0.009675246f,  -0.008912344f, 0.011236784f,   0.01051394f,    -0.013167124f,  -0.012561049f,
    0.015627416f,   0.015225906f,  -0.018851634f,  -0.018854782f,  0.023301799f,   0.02411893f,
    -0.029943462f,  -0.032528803f, 0.041205868f,   0.048175447f,   -0.06491439f,   -0.088481545f,
    0.15098809f,    0.448908f};
float RFC(int i) {
  return i < 38 ? kRFHalf[i] : kRFHalf[75 - i];
}
const unsigned kMatrix[16] = {0x077, 0x2E7, 0x3AF, 0x30B, 0x359, 0x370, 0x1B8, 0x0DC,
                              0x06E, 0x037, 0x2C7, 0x3BF, 0x303, 0x35D, 0x372, 0x1B9};
const unsigned kOffset[4] = {0x0FC, 0x198, 0x168, 0x1B4};
const float kTwoPi = 6.2831855f;
const float kPi = 3.14159265f;
const double kTurn = static_cast<double>(kTwoPi);

float Sin(float x) {
  return static_cast<float>(std::sin(static_cast<double>(x)));
}
float Sin(double x) {
  return static_cast<float>(std::sin(x));
}
}  // namespace

std::size_t TestControls::Copy(const std::string& s, char* out, std::size_t capacity) {
  if (capacity > 0) {
    const std::size_t n = std::min(s.size(), capacity - 1);
    std::memcpy(out, s.data(), n);
    out[n] = '\0';
  }
  return s.size();
}

Params Derive(const ControlSnapshot& c, int frameRate, int sourceMode) {
  const ParamValues& v = c.params;
  auto f = [&v](ParamId id) { return static_cast<float>(v[id]); };
  Params p{};
  const float fs = static_cast<float>(frameRate);
  p.FrameRate = frameRate;
  p.StereoOn = c.stereo;
  p.RDSOn = c.rds;
  p.InputFilters = fs == 192000.0f;
  p.PilotNotch = c.stereo && fs == 192000.0f;
  p.RDSGain = f(ParamId::RDSDeviation) * 2.18e-10f;
  p.RDSPhase = f(ParamId::RDSPhase) * kPi / 180.0f;
  p.LRLevel = f(ParamId::StereoEffect) / 100.0f;
  p.Phase38 = f(ParamId::StereoPhase) * kPi / 180.0f;
  p.DelaySamples = static_cast<int32_t>(std::lround(v[ParamId::MDelay]));
  p.ReflectedPct = f(ParamId::MVoltage);
  p.CarrierInc = f(ParamId::CarrierFreq) * kPi / fs;
  p.QPhase = f(ParamId::LRPhaseOffset) * kPi / 180.0f + kPi / 2.0f;
  // Amplitude rule, integer steps.
  int h = 32767;
  if (c.dcCoupled) {
    h = std::min(32767 - static_cast<int>(std::fabs(v[ParamId::DCOffsetL] - 50.0) * 655.36),
                 32767 - static_cast<int>(std::fabs(v[ParamId::DCOffsetR] - 50.0) * 655.36));
  }
  if (v[ParamId::LRGainRatio] > 1.0) h = static_cast<int>(h / v[ParamId::LRGainRatio]);
  h = std::max(h - 1, 0);
  const int ampI = std::min(h, static_cast<int>(v[ParamId::MaxOutputSwing] * 327.68));
  p.AmpI = static_cast<float>(ampI);
  p.AmpQ = static_cast<float>(v[ParamId::LRGainRatio] * ampI);
  p.DCOffsetI = c.dcCoupled ? static_cast<float>((v[ParamId::DCOffsetL] - 50.0) * 655.36) : 0.0f;
  p.DCOffsetQ = c.dcCoupled ? static_cast<float>((v[ParamId::DCOffsetR] - 50.0) * 655.36) : 0.0f;
  if (sourceMode == SourceInput) {
    p.PhaseInc = f(ParamId::PilotFrequency) * kTwoPi / fs;
    p.DevScale = f(ParamId::ExtModSens) * kTwoPi / fs;
  } else {
    p.PhaseInc = f(ParamId::SineModFreq) * kTwoPi / fs;
    p.DevScale = f(ParamId::SinePeakDev) * 1000.0f * kTwoPi / fs;
  }
  p.PilotDev = f(ParamId::PilotDeviation) * kTwoPi / fs;
  return p;
}

float Modulator::MPXFIRAA(float x) {
  st.MPXAARing[st.MPXAAIndex] = x;
  st.MPXAAIndex = st.MPXAAIndex + 1;
  if (st.MPXAAIndex > 17) st.MPXAAIndex = 0;
  float sum = 0.0f;
  for (int i = 0; i <= 17; ++i) sum = sum + kAACoef[i] * st.MPXAARing[(st.MPXAAIndex + i) % 18];
  return sum;
}

float Modulator::RFFIR(int channel, int substep, float x) {
  st.RFRing[channel][st.RFIndex] = x;
  st.RFIndex = st.RFIndex + 1;
  if (st.RFIndex > 75) st.RFIndex = 0;
  float sum = 0.0f;
  if (substep == 1) {
    for (int i = 0; i <= 75; ++i) sum = sum + RFC(i) * st.RFRing[channel][(st.RFIndex + i) % 76];
  }
  if (channel == 0) {
    st.RFIndex = st.RFIndex - 1;
    if (st.RFIndex < 0) st.RFIndex = 75;
  }
  return sum;
}

int Modulator::RDSChecksum(int w) {
  int r = 0;
  for (int i = 0; i <= 15; ++i) {
    if (w & (1 << (15 - i))) r ^= static_cast<int>(kMatrix[i]);
  }
  return r;
}

void Modulator::GetNextRDSBit() {
  const int g = st.RDSBitIndex / 104, b = (st.RDSBitIndex % 104) / 26, n = st.RDSBitIndex % 26;
  if (n == 0) {
    char text[256];
    if (b == 0) {
      const std::size_t len = controls_.ReadPIText(text, sizeof text);
      std::string s = "0x" + std::string(text, std::min(len, sizeof text - 1));
      char* end = nullptr;
      const long v = s.size() > 2 && std::isxdigit(static_cast<unsigned char>(s[2]))
                         ? std::strtol(s.c_str(), &end, 16)
                         : -1;
      st.RDSInfoWord = (v < 0 || end == nullptr || *end != '\0') ? 0xFFFF : static_cast<int>(v);
    } else if (b == 1) {
      st.RDSInfoWord = 0x0408 + g;
    } else if (b == 2) {
      st.RDSInfoWord = 205 * 257;
    } else {
      unsigned char ps[8];
      std::memset(ps, 0x20, 8);
      const std::size_t len = controls_.ReadPSText(text, sizeof text);
      std::memcpy(ps, text, std::min<std::size_t>(len, 8));
      st.RDSInfoWord = ps[2 * g] * 256 + ps[2 * g + 1];
    }
    st.RDSCheckWord = RDSChecksum(st.RDSInfoWord) ^ static_cast<int>(kOffset[b]);
  }
  const bool bit = n < 16 ? (st.RDSInfoWord >> (15 - n)) & 1 : (st.RDSCheckWord >> (25 - n)) & 1;
  st.RDSDiffBit = st.RDSDiffBit ^ bit;
  st.RDSBitIndex = st.RDSBitIndex + 1;
  if (st.RDSBitIndex == 416) st.RDSBitIndex = 0;
}

void Modulator::AddToDelay(int channel, float x) {
  if (!multipath_) return;
  for (int i = 19; i >= 0; --i) st.DelayLine[channel][i + 1] = st.DelayLine[channel][i];
  st.DelayLine[channel][0] = x;
}

float Modulator::Delayed(int channel, int delay, float percent) {
  if (!multipath_) return 0.0f;
  return st.DelayLine[channel][delay] * percent / 100.0f;
}

float Modulator::InputMpx(const Params& p) {
  float L = queue.ReadSampleFromBuffer();
  float R = queue.ReadSampleFromBuffer();
  if (p.InputFilters) {
    float* s = st.DCBlockState.data();
    float y = 0.999592f * s[0] + L;
    L = 0.999796f * y - 0.999796f * s[0];
    s[0] = y;
    y = 0.999592f * s[1] + R;
    R = 0.999796f * y - 0.999796f * s[1];
    s[1] = y;
  }
  if (p.PilotNotch) {
    for (int ch = 0; ch < 2; ++ch) {
      float& x = ch == 0 ? L : R;
      auto& n = st.PilotNotchState[ch];
      const float y = 1.436962f * n[0] + x - 0.7678147f * n[1];
      x = 0.8839074f * y - 1.436962f * n[0] + 0.8839074f * n[1];
      n[1] = n[0];
      n[0] = y;
    }
  }
  st.PilotPhase = st.PilotPhase + p.PhaseInc;
  st.RDSImpulse = 0.0f;
  if (st.PilotPhase >= kTwoPi) {
    st.PilotPhase = st.PilotPhase - kTwoPi;
    if (p.RDSOn) {
      st.PilotCycleCount = st.PilotCycleCount + 1;
      if (st.PilotCycleCount >= 16) {
        st.PilotCycleCount = 0;
        GetNextRDSBit();
        st.RDSImpulse = st.RDSDiffBit ? 1.0f : -1.0f;
      }
      if (st.PilotCycleCount == 8) st.RDSImpulse = st.RDSDiffBit ? -1.0f : 1.0f;
    }
  }
  float mpx;
  if (p.StereoOn) {
    mpx = p.PilotDev * Sin(st.PilotPhase) +
          p.DevScale * ((L + R) + Sin(2.0f * st.PilotPhase + p.Phase38) * ((L - R) * p.LRLevel));
  } else {
    mpx = (L + R) * p.DevScale;
  }
  if (p.RDSOn) {
    auto& a = st.RDSShapeState[0];
    auto& b = st.RDSShapeState[1];
    auto& c = st.RDSShapeState[2];
    const float y1 = 1.940058f * a[0] + st.RDSImpulse - 0.941991f * a[1];
    const float o1 = y1 - 1.980785f * a[0] + a[1];
    a[1] = a[0];
    a[0] = y1;
    const float y2 = p.RDSGain * o1 + 1.94419f * b[0] - 0.9487893f * b[1];
    const float o2 = 2.0f * b[0] + y2 + b[1];
    b[1] = b[0];
    b[0] = y2;
    const float y3 = 1.8762477f * c[0] + o2 - 0.880687f * c[1];
    const float o3 = 2.0f * c[0] + y3 + c[1];
    c[1] = c[0];
    c[0] = y3;
    mpx = mpx + Sin(3.0f * st.PilotPhase + p.RDSPhase) * o3;
  }
  return mpx;
}

void Modulator::UpdatePm() {
  st.PmSamples = 0;
  st.PmRing[st.PmIndex] = st.PmAcc;
  st.PmAcc = 0.0;
  st.PmIndex = st.PmIndex + 1;
  if (st.PmIndex == 60) st.PmIndex = 0;
  st.PmCount = std::min(st.PmCount + 1, 60);
}

bool Modulator::Fill(uint8_t* buffer, const int& size) {
  ControlSnapshot snap;
  controls_.ReadControls(snap);
  if (st.SourceMode != SourceSine && st.SourceMode != SourceInput) return !st.StopRequested;
  p_ = Derive(snap, frameRate, st.SourceMode);
  multipath_ = controls_.MultipathFlag().load();  // held for the whole block like the rest
  const Params& p = p_;
  const int n = size / 4;
  for (int k = 0; k < n; ++k) {
    float mpx;
    if (st.SourceMode == SourceSine) {
      st.PilotPhase = st.PilotPhase + p.PhaseInc;
      if (st.PilotPhase >= kTwoPi) st.PilotPhase = st.PilotPhase - kTwoPi;
      // A step of a turn or more (modulation frequency at or above the rate) needs more.
      if (st.PilotPhase >= kTwoPi) st.PilotPhase = std::fmod(st.PilotPhase, kTwoPi);
      mpx = Sin(st.PilotPhase) * p.DevScale;
    } else {
      mpx = InputMpx(p);
    }
    if (mpx > st.DevMax) st.DevMax = mpx;
    if (mpx < st.DevMin) st.DevMin = mpx;
    st.PmAcc = st.PmAcc + static_cast<double>(mpx) * static_cast<double>(mpx);
    st.PmSamples = st.PmSamples + 1;
    if (st.PmSamples >= p.FrameRate) UpdatePm();
    if (k < 512) st.CapMpx[k] = mpx;

    const float h = 0.5f * mpx;
    int outI = 0, outQ = 0;
    for (int j = 0; j <= 1; ++j) {
      const float d = MPXFIRAA(h);
      st.CarrierPhase =
          st.CarrierPhase + static_cast<double>(p.CarrierInc) + static_cast<double>(d);
      if (st.CarrierPhase >= kTurn) {
        st.CarrierPhase -= kTurn;
        if (st.CarrierPhase >= kTurn) st.CarrierPhase = std::fmod(st.CarrierPhase, kTurn);
      }
      if (st.CarrierPhase <= -kTurn) {
        st.CarrierPhase += kTurn;
        if (st.CarrierPhase <= -kTurn) st.CarrierPhase = std::fmod(st.CarrierPhase, kTurn);
      }
      const float i0 = Sin(st.CarrierPhase);
      AddToDelay(0, i0);
      const float xi = (Delayed(0, p.DelaySamples, p.ReflectedPct) + i0) * p.AmpI;
      outI = static_cast<int>(std::trunc(RFFIR(0, j, xi) + p.DCOffsetI));
      const float q0 = Sin(st.CarrierPhase + static_cast<double>(p.QPhase));
      AddToDelay(1, q0);
      const float xq = (Delayed(1, p.DelaySamples, p.ReflectedPct) + q0) * p.AmpQ;
      outQ = static_cast<int>(std::trunc(RFFIR(1, j, xq) + p.DCOffsetQ));
    }
    // Saturation instead of keeping the low 16 bits.
    st.ClippedSamples += (outI < -32768 || outI > 32767) + (outQ < -32768 || outQ > 32767);
    outI = std::clamp(outI, -32768, 32767);
    outQ = std::clamp(outQ, -32768, 32767);
    if (k < 512) st.CapOutI[k] = static_cast<float>(outI);
    if (k < 512) st.CapOutQ[k] = static_cast<float>(outQ);
    const uint16_t ui = static_cast<uint16_t>(outI), uq = static_cast<uint16_t>(outQ);
    buffer[4 * k] = static_cast<uint8_t>(ui & 0xFF);
    buffer[4 * k + 1] = static_cast<uint8_t>(ui >> 8);
    buffer[4 * k + 2] = static_cast<uint8_t>(uq & 0xFF);
    buffer[4 * k + 3] = static_cast<uint8_t>(uq >> 8);
  }
  return !st.StopRequested;
}

}  // namespace kelvane::ref
