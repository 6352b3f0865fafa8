// SPDX-License-Identifier: GPL-3.0-or-later
// The two FIR filters at twice the playback rate: the 18-tap MPX interpolator and the 76-tap
// I/Q output filter that decimates back to the playback rate.
#pragma once

#include <array>

#include "EngineState.h"

namespace kelvane {

extern const std::array<float, kMpxAATaps> MPXAACoef;
extern const std::array<float, kRFTaps> RFCoef;

// Stores x, then sums the ring with tap 0 on the oldest sample.
float MPXFIRAA(EngineState& s, float x);
// channel 0 = I, 1 = Q; substep 0 stores only and returns 0, substep 1 returns the filtered value.
float RFFIR(EngineState& s, int channel, int substep, float x);

}  // namespace kelvane
