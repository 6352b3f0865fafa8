// SPDX-License-Identifier: GPL-3.0-or-later
// Phase wraps. One subtraction of a full turn keeps every ordinary phase (a step below one turn)
// exactly as it was; a step of a turn or more (a modulation frequency at or above the sampling
// rate, or a carrier swept by a very wide deviation) is reduced with fmod, so the phase stays
// within one turn instead of growing until float steps no longer resolve it.
#pragma once

#include <cmath>

#include "EngineState.h"

namespace kelvane {

// Pilot or sine phase after its (non-negative) step: [0, 2pi).
inline float WrapPilotPhase(float pp) {
  if (pp >= kTwoPiF) [[unlikely]] {
    pp = pp - kTwoPiF;
    if (pp >= kTwoPiF) [[unlikely]]
      pp = std::fmod(pp, kTwoPiF);
  }
  return pp;
}

// Carrier phase after its step: (-turn, turn).
inline double WrapCarrierPhase(double ph, double turn) {
  if (ph >= turn) [[unlikely]] {
    ph -= turn;
    if (ph >= turn) [[unlikely]]
      ph = std::fmod(ph, turn);
  }
  if (ph <= -turn) [[unlikely]] {
    ph += turn;
    if (ph <= -turn) [[unlikely]]
      ph = std::fmod(ph, turn);
  }
  return ph;
}

}  // namespace kelvane
