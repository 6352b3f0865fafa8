// The multipath delay lines over a run of sub-steps, as a linear history instead of a shifting
// array. The enable switch is read on every call, in the order AddToDelay(I), Delayed(I),
// AddToDelay(Q), Delayed(Q), exactly as the per-call routines read it.
#pragma once

#include <cstdint>

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

// `on` is called once per delay-line call and returns the switch state. The reads of a slice of
// frames are taken first, in call order; a slice that saw the switch on (or off) at every call
// then runs as plain copies, any other slice call by call with the values read.
template <class Flag>
void RunDelayLines(EngineState& s, int delay, const DelayRun& run, Flag&& on) {
  constexpr int kSlice = 32;  // frames per slice
  float* hi = run.histI;
  float* hq = run.histQ;
  for (int j = 0; j < kDelayLength; ++j) {
    hi[j] = s.DelayLine[0][kDelayLength - 1 - j];
    hq[j] = s.DelayLine[1][kDelayLength - 1 - j];
  }
  int lenI = kDelayLength, lenQ = kDelayLength;
  uint8_t flags[kSlice * 8];
  for (int k0 = 0; k0 < run.frames; k0 += kSlice) {
    const int m = run.frames - k0 < kSlice ? run.frames - k0 : kSlice;
    int count = 0;
    for (int c = 0; c < 8 * m; ++c) {
      flags[c] = on() ? 1 : 0;
      count += flags[c];
    }
    if (count == 8 * m) {
      // Every call saw the switch on: each sub-step pushes its sample and reads the one pushed
      // `delay` sub-steps before.
      float* ni = hi + lenI;
      float* nq = hq + lenQ;
      for (int k = 0; k < m; ++k) {
        ni[2 * k] = run.i0[0][k0 + k];
        ni[2 * k + 1] = run.i0[1][k0 + k];
        nq[2 * k] = run.q0[0][k0 + k];
        nq[2 * k + 1] = run.q0[1][k0 + k];
      }
      const float* di = ni - delay;
      const float* dq = nq - delay;
      for (int k = 0; k < m; ++k) {
        run.rI[0][k0 + k] = di[2 * k];
        run.rI[1][k0 + k] = di[2 * k + 1];
        run.rQ[0][k0 + k] = dq[2 * k];
        run.rQ[1][k0 + k] = dq[2 * k + 1];
      }
      lenI += 2 * m;
      lenQ += 2 * m;
    } else if (count == 0) {
      for (int k = 0; k < m; ++k) {
        run.rI[0][k0 + k] = 0.0f;
        run.rI[1][k0 + k] = 0.0f;
        run.rQ[0][k0 + k] = 0.0f;
        run.rQ[1][k0 + k] = 0.0f;
      }
    } else {
      const uint8_t* f = flags;
      for (int k = 0; k < m; ++k) {
        for (int j = 0; j < 2; ++j, f += 4) {
          if (f[0]) hi[lenI++] = run.i0[j][k0 + k];
          run.rI[j][k0 + k] = f[1] ? hi[lenI - 1 - delay] : 0.0f;
          if (f[2]) hq[lenQ++] = run.q0[j][k0 + k];
          run.rQ[j][k0 + k] = f[3] ? hq[lenQ - 1 - delay] : 0.0f;
        }
      }
    }
  }
  for (int e = 0; e < kDelayLength; ++e) {
    s.DelayLine[0][e] = hi[lenI - 1 - e];
    s.DelayLine[1][e] = hq[lenQ - 1 - e];
  }
}

}  // namespace kelvane
