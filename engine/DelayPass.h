// The multipath delay lines over a run of sub-steps, as a linear history instead of a shifting
// array. The enable switch is read on every call, in the order AddToDelay(I), Delayed(I),
// AddToDelay(Q), Delayed(Q), exactly as the per-call routines read it.
#pragma once

#include "EngineState.h"

namespace kelvane {

struct DelayRun {
  const float* i0;  // carrier samples of the run, in sub-step order
  const float* q0;
  float* rI;  // delay-line element the reflection reads, or 0 while the switch is off
  float* rQ;
  int steps;
  float* histI;  // scratch of kDelayLength + steps floats each
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
  for (int t = 0; t < run.steps; ++t) {
    if (on()) hi[lenI++] = run.i0[t];
    run.rI[t] = on() ? hi[lenI - 1 - delay] : 0.0f;
    if (on()) hq[lenQ++] = run.q0[t];
    run.rQ[t] = on() ? hq[lenQ - 1 - delay] : 0.0f;
  }
  for (int e = 0; e < kDelayLength; ++e) {
    s.DelayLine[0][e] = hi[lenI - 1 - e];
    s.DelayLine[1][e] = hq[lenQ - 1 - e];
  }
}

}  // namespace kelvane
