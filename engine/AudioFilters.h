// SPDX-License-Identifier: GPL-3.0-or-later
// Audio processing ahead of the stereo matrix: the first-order pre-emphasis (50 or 75 us) and
// the 15 kHz low-pass of the sound-card source. Both are designed at the running rate when the
// rate is set, run in place on the chunk's audio, and change over with a 10 ms cross-fade so a
// switch while running does not click. A stage that is off and has not been on since the start
// leaves the samples untouched (it only notes the last input for a later switch).
#pragma once

#include <array>

#include "Programme.h"

namespace kelvane {

// y[n] = a y[n-1] + g (x[n] - b x[n-1]): a minimum-phase shelf with unit gain at 0 Hz.
struct EmphasisCoefs {
  double g = 1.0, b = 0.0, a = 0.0;
};

// The time constant of a PreEmphasisMode in seconds (0 when off or unknown).
double EmphasisTau(int mode);

// Fits |H|^2 to the analogue |1 + j 2 pi f tau|^2 over 0..15 kHz at this rate: iterated
// weighted least squares on the relative error (Sanathanan-Koerner) with the 0 Hz gain held at
// 1, then Lawson reweighting toward the smallest largest error. The plain bilinear shelf is
// about 0.1 dB off at 15 kHz at 44100 Hz; this one stays near half that.
EmphasisCoefs DesignEmphasis(double tau, double rate);

// |H(e^jw)| of the section at f Hz.
double EmphasisGain(const EmphasisCoefs& c, double f, double rate);

inline constexpr int kLowPassMaxTaps = 177;    // the design at 192000 Hz
inline constexpr int kLowPassMinRate = 96000;  // below: no pilot band above the audio to keep clear

// The 15 kHz linear-phase low-pass (Kaiser window, 60 dB, 15..19 kHz transition): an odd number
// of symmetric taps, delay (taps - 1) / 2 frames. taps = 0 below kLowPassMinRate, where the
// switch does nothing: at 44100 and 48000 Hz the multiplex has no room for the pilot and the
// 38 kHz band that the filter keeps clear.
struct LowPassDesign {
  int taps = 0;
  std::array<float, kLowPassMaxTaps> h{};
};
LowPassDesign DesignLowPass(double rate);

class AudioFilters {
 public:
  static constexpr int kMaxFrames = 2048;      // the engine's chunk
  static constexpr int kMaxFadeFrames = 1920;  // 10 ms at 192000 Hz
  static constexpr int kPad = 32;              // the FIR kernel works in groups of 32 frames

  // Designs both emphasis sections and the low-pass for this rate, and resets.
  void Design(int rate);
  // Start of a run: the states cleared; the first block sets the modes without a fade.
  void Reset();
  // Filters n (<= kMaxFrames) frames of 1 (the unit sine) or 2 (interleaved L, R) channels in
  // place: the emphasis of this mode, then, with two channels, the low-pass if asked for and
  // designed at this rate.
  void Process(float* x, int n, int channels, int emphasisMode, bool lowPass);

  const EmphasisCoefs& Emphasis(int mode) const { return emphasis_[mode]; }
  const LowPassDesign& LowPass() const { return lowPass_; }

 private:
  // One stage's switch: the path now asked for, the one faded out, the frames left of the fade.
  // A change asked for during a fade is taken up when that fade ends.
  struct Fade {
    int cur = 0, prev = 0, left = 0;
  };
  void ProcessEmphasis(float* x, int n, int channels, int mode);
  void ProcessLowPass(float* x, int n, int mode);
  void RunEmphasis(int mode, const float* in, float* out, int n, int channels);
  // out = old + w (out - old) over the fading frames, w rising 0 -> 1 as a raised cosine.
  void CrossFade(Fade& fade, const float* old, float* out, int n, int channels) const;

  EmphasisCoefs emphasis_[3];
  std::array<float, 3> eg_{}, eb_{}, ea_{};  // the same in single precision
  LowPassDesign lowPass_;
  int fadeFrames_ = 480;

  Fade emphasisFade_, lowPassFade_;
  bool fresh_ = true;    // no block yet since the reset
  float x1_[2] = {};     // the last emphasis input per channel
  float y1_[3][2] = {};  // the last output of each emphasis path per channel
  // Low-pass input per channel: the last taps - 1 frames, then the chunk.
  alignas(32) float hist_[2][kLowPassMaxTaps - 1 + kMaxFrames + kPad] = {};
  alignas(32) float tmp_[2 * (kMaxFrames + kPad)] = {};  // the faded-out path; FIR outputs
  alignas(32) float fir_[2 * kMaxFrames] = {};           // the low-pass output, interleaved
};

}  // namespace kelvane
