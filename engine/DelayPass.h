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

// The eight switch reads of one frame in one byte, in call order from the top bit down: for
// sub-step 0 then 1, AddToDelay(I), Delayed(I), AddToDelay(Q), Delayed(Q). Call c of sub-step
// j is bit 7 - (4 * j + c).
template <class Flag>
inline uint8_t ReadFrameSwitch(Flag&& on) {
  // Each read doubles and adds (a single address computation per read).
  unsigned v = 0;
#pragma GCC unroll 8
  for (int c = 0; c < 8; ++c) v = 2 * v + static_cast<unsigned>(on());
  return static_cast<uint8_t>(v);
}

// The delay lines over one run: the history is unrolled from the state at the start and
// written back by Finish.
class DelayLinePass {
 public:
  static constexpr int kSlice = 32;  // frames per slice

  DelayLinePass(EngineState& s, int delay, const DelayRun& run) : s_(s), delay_(delay), run_(run) {
    for (int j = 0; j < kDelayLength; ++j) {
      run.histI[j] = s.DelayLine[0][kDelayLength - 1 - j];
      run.histQ[j] = s.DelayLine[1][kDelayLength - 1 - j];
    }
  }

  // Frames k0 .. k0 + m - 1 (m <= kSlice) with their switch bytes sw[0 .. m - 1]. A slice
  // whose reads all saw the switch on (or off) runs as plain copies, any other call by call
  // with the values read.
  void Slice(int k0, int m, const uint8_t* sw) {
    const DelayRun& run = run_;
    float* hi = run.histI;
    float* hq = run.histQ;
    unsigned all = 0xFF, any = 0;
    for (int k = 0; k < m; ++k) {
      all &= sw[k];
      any |= sw[k];
    }
    if (all == 0xFF) {
      // Every call saw the switch on: each sub-step pushes its sample and reads the one pushed
      // `delay` sub-steps before.
      float* ni = hi + lenI_;
      float* nq = hq + lenQ_;
      for (int k = 0; k < m; ++k) {
        ni[2 * k] = run.i0[0][k0 + k];
        ni[2 * k + 1] = run.i0[1][k0 + k];
        nq[2 * k] = run.q0[0][k0 + k];
        nq[2 * k + 1] = run.q0[1][k0 + k];
      }
      const float* di = ni - delay_;
      const float* dq = nq - delay_;
      for (int k = 0; k < m; ++k) {
        run.rI[0][k0 + k] = di[2 * k];
        run.rI[1][k0 + k] = di[2 * k + 1];
        run.rQ[0][k0 + k] = dq[2 * k];
        run.rQ[1][k0 + k] = dq[2 * k + 1];
      }
      lenI_ += 2 * m;
      lenQ_ += 2 * m;
    } else if (any == 0) {
      for (int k = 0; k < m; ++k) {
        run.rI[0][k0 + k] = 0.0f;
        run.rI[1][k0 + k] = 0.0f;
        run.rQ[0][k0 + k] = 0.0f;
        run.rQ[1][k0 + k] = 0.0f;
      }
    } else {
      for (int k = 0; k < m; ++k) {
        for (int j = 0; j < 2; ++j) {
          const unsigned f = sw[k] >> (4 - 4 * j);  // this sub-step's calls in bits 3..0
          if (f & 8) hi[lenI_++] = run.i0[j][k0 + k];
          run.rI[j][k0 + k] = (f & 4) ? hi[lenI_ - 1 - delay_] : 0.0f;
          if (f & 2) hq[lenQ_++] = run.q0[j][k0 + k];
          run.rQ[j][k0 + k] = (f & 1) ? hq[lenQ_ - 1 - delay_] : 0.0f;
        }
      }
    }
  }

  void Finish() {
    for (int e = 0; e < kDelayLength; ++e) {
      s_.DelayLine[0][e] = run_.histI[lenI_ - 1 - e];
      s_.DelayLine[1][e] = run_.histQ[lenQ_ - 1 - e];
    }
  }

 private:
  EngineState& s_;
  const int delay_;
  const DelayRun& run_;
  int lenI_ = kDelayLength;
  int lenQ_ = kDelayLength;
};

// Runs the delay lines with the switch reads taken beforehand: run.frames bytes.
inline void ApplyDelayLines(EngineState& s, int delay, const DelayRun& run, const uint8_t* sw) {
  DelayLinePass pass(s, delay, run);
  for (int k0 = 0; k0 < run.frames; k0 += DelayLinePass::kSlice) {
    const int m = run.frames - k0 < DelayLinePass::kSlice ? run.frames - k0 : DelayLinePass::kSlice;
    pass.Slice(k0, m, sw + k0);
  }
  pass.Finish();
}

// `on` is called once per delay-line call and returns the switch state; the reads of each slice
// are taken first, in call order.
template <class Flag>
void RunDelayLines(EngineState& s, int delay, const DelayRun& run, Flag&& on) {
  DelayLinePass pass(s, delay, run);
  uint8_t sw[DelayLinePass::kSlice];
  for (int k0 = 0; k0 < run.frames; k0 += DelayLinePass::kSlice) {
    const int m = run.frames - k0 < DelayLinePass::kSlice ? run.frames - k0 : DelayLinePass::kSlice;
    for (int k = 0; k < m; ++k) sw[k] = ReadFrameSwitch(on);
    pass.Slice(k0, m, sw);
  }
  pass.Finish();
}

}  // namespace kelvane
