// SPDX-License-Identifier: GPL-3.0-or-later
// Conversion of the control values to the per-block engine values.
#include "BlockParams.h"

#include <algorithm>
#include <cmath>

#include "AudioFilters.h"

namespace kelvane {

int AmplitudeI(bool dcCoupled, double dcOffsetL, double dcOffsetR, double gainRatio,
               double swingPct) {
  int h = 32767;
  if (dcCoupled) {
    const int hl = 32767 - static_cast<int>(std::trunc(std::fabs(dcOffsetL - 50.0) * 655.36));
    const int hr = 32767 - static_cast<int>(std::trunc(std::fabs(dcOffsetR - 50.0) * 655.36));
    h = std::min(hl, hr);
  }
  if (gainRatio > 1.0) h = static_cast<int>(std::trunc(h / gainRatio));
  h -= 1;
  if (h < 0) h = 0;
  return std::min(h, static_cast<int>(std::trunc(swingPct * 327.68)));
}

BlockParams MakeBlockParams(const ControlSnapshot& c, int frameRate, int sourceMode) {
  const ParamValues& p = c.params;
  auto f = [&p](ParamId id) { return static_cast<float>(p[id]); };
  BlockParams b;
  const float fs = static_cast<float>(frameRate);
  b.FrameRate = frameRate;
  b.StereoOn = c.stereo;
  b.RDSOn = c.rds;
  b.InputFilters = fs == 192000.0f;
  b.PilotNotch = b.StereoOn && fs == 192000.0f;
  b.RDSGain = f(ParamId::RDSDeviation) * 2.18e-10f;
  b.RDSPhase = f(ParamId::RDSPhase) * kPiF / 180.0f;
  b.LRLevel = f(ParamId::StereoEffect) / 100.0f;
  b.Phase38 = f(ParamId::StereoPhase) * kPiF / 180.0f;
  b.DelaySamples = static_cast<int32_t>(std::lround(p[ParamId::MDelay]));
  b.DelaySamples = std::clamp(b.DelaySamples, 0, kDelayLength - 1);
  b.ReflectedPct = f(ParamId::MVoltage);
  b.CarrierInc = f(ParamId::CarrierFreq) * kPiF / fs;
  b.QPhase = f(ParamId::LRPhaseOffset) * kPiF / 180.0f + kPiF / 2.0f;
  const int ampI = AmplitudeI(c.dcCoupled, p[ParamId::DCOffsetL], p[ParamId::DCOffsetR],
                              p[ParamId::LRGainRatio], p[ParamId::MaxOutputSwing]);
  b.AmpI = static_cast<float>(ampI);
  b.AmpQ = static_cast<float>(p[ParamId::LRGainRatio] * ampI);
  if (c.dcCoupled) {
    b.DCOffsetI = static_cast<float>((p[ParamId::DCOffsetL] - 50.0) * 655.36);
    b.DCOffsetQ = static_cast<float>((p[ParamId::DCOffsetR] - 50.0) * 655.36);
  }
  if (sourceMode == SourceInput) {
    b.PhaseInc = f(ParamId::PilotFrequency) * kTwoPiF / fs;
    b.DevScale = f(ParamId::ExtModSens) * kTwoPiF / fs;
  } else {
    b.PhaseInc = f(ParamId::SineModFreq) * kTwoPiF / fs;
    b.DevScale = f(ParamId::SinePeakDev) * 1000.0f * kTwoPiF / fs;
  }
  b.PilotDev = f(ParamId::PilotDeviation) * kTwoPiF / fs;
  const int emphasis = c.programme.preEmphasis;
  b.PreEmphasis = emphasis == Emphasis50us || emphasis == Emphasis75us ? emphasis : EmphasisOff;
  b.AudioLowPass =
      c.programme.audioLowPass && sourceMode == SourceInput && frameRate >= kLowPassMinRate;
  b.ChannelDelay = c.programme.channelDelay;
  b.IQSwap = c.programme.iqSwap;
  return b;
}

}  // namespace kelvane
