// SPDX-License-Identifier: GPL-3.0-or-later
// The multipath delay lines over one chunk, as a linear history instead of a shifting array.
// The enable switch is read once per block: the engine and the check box that sets it run on
// one thread, so it cannot change inside a block, and a per-call read would only cost time.
#pragma once

#include "EngineState.h"

namespace kelvane {

struct DelayRun {
  // Carrier samples by sub-step parity: index 0 holds sub-step 0 of each frame, 1 sub-step 1.
  const float* i0[2];
  const float* q0[2];
  float* rI[2];  // delay-line element the reflection reads
  float* rQ[2];
  int frames;
  float* histI;  // scratch of kDelayLength + 2 * frames floats each
  float* histQ;
};

// With the switch on, each sub-step pushes its sample and reads the one pushed `delay` sub-steps
// before (delay 0: the sample itself). The lines are written back for the next chunk.
inline void RunDelayLines(EngineState& s, int delay, const DelayRun& run) {
  constexpr int H = kDelayLength;
  const int n = run.frames;
  float* hi = run.histI;
  float* hq = run.histQ;
  for (int j = 0; j < H; ++j) {
    hi[j] = s.DelayLine[0][H - 1 - j];
    hq[j] = s.DelayLine[1][H - 1 - j];
  }
  for (int k = 0; k < n; ++k) {
    hi[H + 2 * k] = run.i0[0][k];
    hi[H + 2 * k + 1] = run.i0[1][k];
    hq[H + 2 * k] = run.q0[0][k];
    hq[H + 2 * k + 1] = run.q0[1][k];
  }
  const float* di = hi + H - delay;
  const float* dq = hq + H - delay;
  for (int k = 0; k < n; ++k) {
    run.rI[0][k] = di[2 * k];
    run.rI[1][k] = di[2 * k + 1];
    run.rQ[0][k] = dq[2 * k];
    run.rQ[1][k] = dq[2 * k + 1];
  }
  for (int e = 0; e < H; ++e) {
    s.DelayLine[0][e] = hi[H + 2 * n - 1 - e];
    s.DelayLine[1][e] = hq[H + 2 * n - 1 - e];
  }
}

}  // namespace kelvane
