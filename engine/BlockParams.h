// SPDX-License-Identifier: GPL-3.0-or-later
// The per-block snapshot of every user setting in engine units, and the amplitude rule.
#pragma once

#include <cstdint>

#include "ControlSource.h"
#include "EngineState.h"

namespace kelvane {

struct BlockParams {
  int32_t FrameRate = 0;
  bool StereoOn = false;
  bool RDSOn = false;
  bool InputFilters = false;  // DC blocker, only at 192000 Hz
  bool PilotNotch = false;    // stereo and 192000 Hz
  float RDSGain = 0.0f;
  float RDSPhase = 0.0f;
  float LRLevel = 0.0f;
  float Phase38 = 0.0f;
  int32_t DelaySamples = 0;
  float ReflectedPct = 0.0f;
  float CarrierInc = 0.0f;  // rad per half output sample
  float QPhase = 0.0f;
  float AmpI = 0.0f;
  float AmpQ = 0.0f;
  float DCOffsetI = 0.0f;
  float DCOffsetQ = 0.0f;
  float PhaseInc = 0.0f;
  float DevScale = 0.0f;
  float PilotDev = 0.0f;
  int32_t PreEmphasis = 0;    // PreEmphasisMode, both sources
  bool AudioLowPass = false;  // sound-card source at a rate that has the low-pass
  int32_t ChannelDelay = 0;   // frames Q lags I (negative: I lags Q)
  bool IQSwap = false;        // Q on the left, I on the right
};

// Headroom and swing in integer steps: the carrier peak that fits the 16-bit range.
int AmplitudeI(bool dcCoupled, double dcOffsetL, double dcOffsetR, double gainRatio,
               double swingPct);

// Derives the snapshot from the control values. sourceMode selects which rows feed PhaseInc and
// DevScale (SourceSine or SourceInput).
BlockParams MakeBlockParams(const ControlSnapshot& controls, int frameRate, int sourceMode);

}  // namespace kelvane
