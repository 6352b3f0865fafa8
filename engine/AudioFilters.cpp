// SPDX-License-Identifier: GPL-3.0-or-later
// Design and processing of the pre-emphasis and the 15 kHz low-pass.
#include "AudioFilters.h"

#include <algorithm>
#include <cmath>
#include <cstring>

// ThreadSanitizer's runtime is not ready when the ifunc resolvers of target_clones run at load
// time, so a TSan build keeps the portable version only.
#if defined(__SANITIZE_THREAD__)
#define KELVANE_AF_MULTI
#else
#define KELVANE_AF_MULTI __attribute__((target_clones("avx2", "default")))
#endif

namespace kelvane {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kAudioTop = 15000.0;  // Hz: the top of the broadcast audio band
constexpr double kStopEdge = 19000.0;  // Hz: the pilot
constexpr double kStopDb = 60.0;

// The modified Bessel function I0 by its power series (converges fast for the Kaiser betas).
double BesselI0(double x) {
  double sum = 1.0, term = 1.0;
  for (int k = 1; k < 50; ++k) {
    const double r = x / (2.0 * k);
    term *= r * r;
    sum += term;
    if (term < 1e-17 * sum) break;
  }
  return sum;
}

// y[k] = sum over i of h[i] x[k + i], h symmetric with an odd count: 32 outputs at a time in
// four independent sums (one sum alone waits on its additions), each pair of taps folded into
// one product. May read 31 frames past x[n - 1 + taps - 1] and write 31 past y[n - 1].
KELVANE_AF_MULTI void FirSymmetric(const float* x, const float* h, int taps, float* y, int n) {
  typedef float v8f __attribute__((vector_size(32)));
  const int half = taps / 2;
  for (int k = 0; k < n; k += 32) {
    v8f acc[4];
    for (int j = 0; j < 4; ++j) {
      v8f a;
      std::memcpy(&a, x + k + 8 * j + half, sizeof a);
      acc[j] = h[half] * a;
    }
    for (int i = 0; i < half; ++i) {
      const float t = h[i];
      for (int j = 0; j < 4; ++j) {
        v8f b, c;
        std::memcpy(&b, x + k + 8 * j + i, sizeof b);
        std::memcpy(&c, x + k + 8 * j + taps - 1 - i, sizeof c);
        acc[j] += t * (b + c);
      }
    }
    std::memcpy(y + k, acc, sizeof acc);
  }
}

}  // namespace

double EmphasisTau(int mode) {
  switch (mode) {
    case Emphasis50us:
      return 50e-6;
    case Emphasis75us:
      return 75e-6;
    default:
      return 0.0;
  }
}

EmphasisCoefs DesignEmphasis(double tau, double rate) {
  EmphasisCoefs out;
  if (!(tau > 0.0) || !(rate > 0.0)) return out;
  // |H|^2 = (p0 + p1 cos w) / (1 + q1 cos w) with p0 = 1 + q1 - p1 (gain 1 at 0 Hz): the
  // residual p0 + p1 c - D (1 + q1 c) is linear in p1 and q1, weighted by the previous
  // denominator and by D for a relative error.
  constexpr int kGrid = 64;
  constexpr int kPlainRounds = 20, kLawsonRounds = 30;
  double cs[kGrid], target[kGrid], weight[kGrid];
  for (int k = 0; k < kGrid; ++k) {
    const double f = kAudioTop * (k + 1) / kGrid;
    cs[k] = std::cos(2.0 * kPi * f / rate);
    const double x = 2.0 * kPi * f * tau;
    target[k] = 1.0 + x * x;
    weight[k] = 1.0;
  }
  double p1 = 0.0, q1 = 0.0;
  for (int round = 0; round < kPlainRounds + kLawsonRounds; ++round) {
    double a11 = 0.0, a12 = 0.0, a22 = 0.0, r1 = 0.0, r2 = 0.0;
    for (int k = 0; k < kGrid; ++k) {
      const double den = (1.0 + q1 * cs[k]) * target[k];
      const double v = weight[k] / (den * den);
      const double u1 = cs[k] - 1.0, u2 = 1.0 - target[k] * cs[k], t = target[k] - 1.0;
      a11 += v * u1 * u1;
      a12 += v * u1 * u2;
      a22 += v * u2 * u2;
      r1 += v * u1 * t;
      r2 += v * u2 * t;
    }
    const double det = a11 * a22 - a12 * a12;
    if (!(std::fabs(det) > 0.0)) break;
    p1 = (r1 * a22 - r2 * a12) / det;
    q1 = (a11 * r2 - a12 * r1) / det;
    if (round >= kPlainRounds) {
      // Lawson: weight each point by its error so the largest errors even out.
      double sum = 0.0;
      for (int k = 0; k < kGrid; ++k) {
        const double h2 = (1.0 + q1 - p1 + p1 * cs[k]) / (1.0 + q1 * cs[k]);
        weight[k] *= std::fabs(std::log(h2 / target[k])) + 1e-15;
        sum += weight[k];
      }
      for (int k = 0; k < kGrid; ++k) weight[k] *= kGrid / sum;
    }
  }
  // Factor both sides into first-order sections inside the unit circle:
  // p0 + p1 cos w ~ 1 + b^2 - 2 b cos w and 1 + q1 cos w ~ 1 + a^2 - 2 a cos w.
  const double p0 = 1.0 + q1 - p1;
  const double rb = p1 / p0;
  const double b = rb != 0.0 ? (-1.0 + std::sqrt(std::max(0.0, 1.0 - rb * rb))) / rb : 0.0;
  const double a = q1 != 0.0 ? (-1.0 + std::sqrt(std::max(0.0, 1.0 - q1 * q1))) / q1 : 0.0;
  out.b = b;
  out.a = a;
  out.g = (1.0 - a) / (1.0 - b);
  return out;
}

double EmphasisGain(const EmphasisCoefs& c, double f, double rate) {
  const double w = 2.0 * kPi * f / rate;
  const double nr = 1.0 - c.b * std::cos(w), ni = c.b * std::sin(w);
  const double dr = 1.0 - c.a * std::cos(w), di = c.a * std::sin(w);
  return c.g * std::sqrt((nr * nr + ni * ni) / (dr * dr + di * di));
}

LowPassDesign DesignLowPass(double rate) {
  LowPassDesign d;
  if (!(rate >= kLowPassMinRate)) return d;
  // Kaiser's estimates for the length and the window shape of a kStopDb design.
  const double beta = 0.1102 * (kStopDb - 8.7);
  const double transition = 2.0 * kPi * (kStopEdge - kAudioTop) / rate;
  int taps = static_cast<int>(std::ceil((kStopDb - 7.95) / (2.285 * transition))) + 1;
  taps |= 1;  // odd: a whole-frame delay
  // Above 192000 Hz the table's length holds; the transition widens a little.
  d.taps = std::min(taps, kLowPassMaxTaps);
  const int mid = d.taps / 2;
  const double fc = 0.5 * (kAudioTop + kStopEdge) / rate;  // cycles per frame
  double h[kLowPassMaxTaps];
  double sum = 0.0;
  for (int i = 0; i < d.taps; ++i) {
    const double t = i - mid;
    const double sinc = t == 0.0 ? 2.0 * fc : std::sin(2.0 * kPi * fc * t) / (kPi * t);
    const double r = t / mid;
    h[i] = sinc * BesselI0(beta * std::sqrt(std::max(0.0, 1.0 - r * r))) / BesselI0(beta);
    sum += h[i];
  }
  for (int i = 0; i < d.taps; ++i) d.h[i] = static_cast<float>(h[i] / sum);  // 0 dB at 0 Hz
  return d;
}

void AudioFilters::Design(int rate) {
  for (int m = 0; m < 3; ++m) {
    emphasis_[m] = DesignEmphasis(EmphasisTau(m), rate);
    eg_[m] = static_cast<float>(emphasis_[m].g);
    eb_[m] = static_cast<float>(emphasis_[m].b);
    ea_[m] = static_cast<float>(emphasis_[m].a);
  }
  lowPass_ = DesignLowPass(rate);
  fadeFrames_ = std::clamp(rate / 100, 1, kMaxFadeFrames);
  Reset();
}

void AudioFilters::Reset() {
  emphasisFade_ = {};
  lowPassFade_ = {};
  std::memset(x1_, 0, sizeof x1_);
  std::memset(y1_, 0, sizeof y1_);
  std::memset(hist_, 0, sizeof hist_);
  fresh_ = true;
}

void AudioFilters::Process(float* x, int n, int channels, int emphasisMode, bool lowPass) {
  if (n <= 0) return;
  if (emphasisMode < EmphasisOff || emphasisMode > Emphasis75us) emphasisMode = EmphasisOff;
  if (fresh_) {
    // The first block of a run starts in the asked-for modes from silence: nothing to fade.
    emphasisFade_.cur = emphasisMode;
    lowPassFade_.cur = lowPass ? 1 : 0;
    fresh_ = false;
  }
  ProcessEmphasis(x, n, channels, emphasisMode);
  if (channels == 2) ProcessLowPass(x, n, lowPass ? 1 : 0);
}

namespace {

// The emphasis recursion over interleaved frames; the channels' recursions side by side so one
// fills the time the other waits.
template <int kChannels>
void EmphasisRun(float g, float b, float a, float* x1, float* y1, const float* in, float* out,
                 int n) {
  float xs[kChannels], ys[kChannels];
  for (int c = 0; c < kChannels; ++c) {
    xs[c] = x1[c];
    ys[c] = y1[c];
  }
  for (int k = 0; k < n; ++k) {
    for (int c = 0; c < kChannels; ++c) {
      const float x = in[k * kChannels + c];
      ys[c] = a * ys[c] + g * (x - b * xs[c]);
      xs[c] = x;
      out[k * kChannels + c] = ys[c];
    }
  }
  for (int c = 0; c < kChannels; ++c) y1[c] = ys[c];
}

}  // namespace

void AudioFilters::RunEmphasis(int mode, const float* in, float* out, int n, int channels) {
  if (mode == 0) {
    if (in != out) std::memcpy(out, in, sizeof(float) * static_cast<std::size_t>(n * channels));
    return;
  }
  // x1_ is only read: every path starts from the same last input.
  float x1[2] = {x1_[0], x1_[1]};
  if (channels == 2) {
    EmphasisRun<2>(eg_[mode], eb_[mode], ea_[mode], x1, y1_[mode], in, out, n);
  } else {
    EmphasisRun<1>(eg_[mode], eb_[mode], ea_[mode], x1, y1_[mode], in, out, n);
  }
}

void AudioFilters::ProcessEmphasis(float* x, int n, int channels, int mode) {
  Fade& f = emphasisFade_;
  if (f.left == 0 && mode != f.cur) {
    f.prev = f.cur;
    f.cur = mode;
    f.left = fadeFrames_;
    // The new path starts as if its input had been steady; its pole (about -0.1) forgets that
    // within a few frames, long before the fade gives it weight.
    for (int c = 0; c < channels; ++c) y1_[mode][c] = x1_[c];
  }
  float last[2] = {};
  for (int c = 0; c < channels; ++c) last[c] = x[(n - 1) * channels + c];
  if (f.left > 0) {
    RunEmphasis(f.prev, x, tmp_, n, channels);
    RunEmphasis(f.cur, x, x, n, channels);
    CrossFade(f, tmp_, x, n, channels);
  } else if (f.cur != EmphasisOff) {
    RunEmphasis(f.cur, x, x, n, channels);
  }
  for (int c = 0; c < channels; ++c) x1_[c] = last[c];
}

void AudioFilters::ProcessLowPass(float* x, int n, int mode) {
  const int taps = lowPass_.taps;
  if (taps == 0) return;
  const int keep = taps - 1;
  // The input history is kept even while off, so a switch on starts from a full window.
  for (int k = 0; k < n; ++k) {
    hist_[0][keep + k] = x[2 * k];
    hist_[1][keep + k] = x[2 * k + 1];
  }
  Fade& f = lowPassFade_;
  if (f.left == 0 && mode != f.cur) {
    f.prev = f.cur;
    f.cur = mode;
    f.left = fadeFrames_;
  }
  if (f.cur != 0 || f.left > 0) {
    float* outL = tmp_;
    float* outR = tmp_ + kMaxFrames + kPad;
    FirSymmetric(hist_[0], lowPass_.h.data(), taps, outL, n);
    FirSymmetric(hist_[1], lowPass_.h.data(), taps, outR, n);
    for (int k = 0; k < n; ++k) {
      fir_[2 * k] = outL[k];
      fir_[2 * k + 1] = outR[k];
    }
    // Across the fade the dry and the delayed filtered signal add with a comb for 10 ms: a
    // smooth change of colour, no step.
    if (f.left > 0 && f.cur == 0) {
      CrossFade(f, fir_, x, n, 2);
    } else {
      if (f.left > 0) CrossFade(f, x, fir_, n, 2);
      std::memcpy(x, fir_, sizeof(float) * 2 * static_cast<std::size_t>(n));
    }
  }
  for (int c = 0; c < 2; ++c) {
    std::memmove(hist_[c], hist_[c] + n, sizeof(float) * static_cast<std::size_t>(keep));
  }
}

void AudioFilters::CrossFade(Fade& fade, const float* old, float* out, int n, int channels) const {
  const int m = std::min(n, fade.left);
  const int done = fadeFrames_ - fade.left;
  for (int k = 0; k < m; ++k) {
    const double phase = kPi * (done + k + 1) / fadeFrames_;
    const float w = static_cast<float>(0.5 - 0.5 * std::cos(phase));
    for (int c = 0; c < channels; ++c) {
      const int i = k * channels + c;
      out[i] = old[i] + w * (out[i] - old[i]);
    }
  }
  fade.left -= m;
}

}  // namespace kelvane
