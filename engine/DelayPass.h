// The multipath delay lines over a run of sub-steps, as a linear history instead of a shifting
// array. The enable switch is read on every call, in the order AddToDelay(I), Delayed(I),
// AddToDelay(Q), Delayed(Q), exactly as the per-call routines read it.
#pragma once

#include "EngineState.h"

namespace kelvane {

struct DelayRun {
  // Carrier samples by sub-step parity: index 0 holds sub-step 0 of each frame, 1 sub-step 1.
  const float* i0[2];
  const float* q0[2];
  float* rI[2];  // delay-line element the reflection reads, or 0 while the switch is off
  float* rQ[2];
  int frames;
  float* histI;  // scratch of kDelayLength + 2 * frames floats each
  float* histQ;
};

// `on` is called once per delay-line call and returns the switch state.
template <class Flag>
void RunDelayLines(EngineState& s, int delay, const DelayRun& run, Flag&& on) {
  float* hi = run.histI;
  float* hq = run.histQ;
  for (int j = 0; j < kDelayLength; ++j) {
    hi[j] = s.DelayLine[0][kDelayLength - 1 - j];
    hq[j] = s.DelayLine[1][kDelayLength - 1 - j];
  }
  int lenI = kDelayLength, lenQ = kDelayLength;
  for (int k = 0; k < run.frames; ++k) {
    for (int j = 0; j < 2; ++j) {
      if (on()) hi[lenI++] = run.i0[j][k];
      run.rI[j][k] = on() ? hi[lenI - 1 - delay] : 0.0f;
      if (on()) hq[lenQ++] = run.q0[j][k];
      run.rQ[j][k] = on() ? hq[lenQ - 1 - delay] : 0.0f;
    }
  }
  for (int e = 0; e < kDelayLength; ++e) {
    s.DelayLine[0][e] = hi[lenI - 1 - e];
    s.DelayLine[1][e] = hq[lenQ - 1 - e];
  }
}

}  // namespace kelvane
