// Vectorised kernels, built for AVX2 and for the baseline instruction set; the loader picks the
// variant the CPU supports. No fused multiply-add: every lane rounds like the scalar code.
#include "FastKernels.h"

#include <cstring>

#include "Filters.h"

#define KELVANE_MULTI __attribute__((target_clones("avx2", "default")))
#define KELVANE_INLINE static inline __attribute__((always_inline))

namespace kelvane::fast {

namespace {

typedef double v4d __attribute__((vector_size(32)));
typedef long long v4l __attribute__((vector_size(32)));
typedef float v4f __attribute__((vector_size(16)));
typedef float v8f __attribute__((vector_size(32)));

KELVANE_INLINE v8f Load8(const float* p) {
  v8f v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
KELVANE_INLINE void Store8(float* p, v8f v) {
  std::memcpy(p, &v, sizeof v);
}
KELVANE_INLINE v4d Load4(const double* p) {
  v4d v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
KELVANE_INLINE v4d Load4f(const float* p) {
  v4f v;
  std::memcpy(&v, p, sizeof v);
  return __builtin_convertvector(v, v4d);
}
KELVANE_INLINE void Store4f(float* p, v4d v) {
  const v4f f = __builtin_convertvector(v, v4f);
  std::memcpy(p, &f, sizeof f);
}
KELVANE_INLINE v8f Splat8(float x) {
  return v8f{x, x, x, x, x, x, x, x};
}
KELVANE_INLINE v4d Splat4(double x) {
  return v4d{x, x, x, x};
}

// Taylor coefficients of sin: (-1)^m / (2m+1)!, m = 1..9.
constexpr double Coef(int m) {
  double f = 1.0;
  for (int i = 2; i <= 2 * m + 1; ++i) f *= i;
  return (m % 2 ? -1.0 : 1.0) / f;
}

// sin(x) for |x| well below 2^40: x = k*pi + r with |r| <= pi/2, sin(x) = (-1)^k sin(r).
// pi is split so that k * kPiA..kPiC are exact; the series to r^19 is accurate to ~3e-16 on
// |r| <= pi/2, so the result is good to a few units in the last place of a double.
KELVANE_INLINE v4d SinCore(v4d x) {
  constexpr double kInvPi = 0.318309886183790671537767526745;
  constexpr double kMagic = 6755399441055744.0;  // 1.5 * 2^52: adding it rounds to an integer
  constexpr double kPiA = 3.1415926218032836914;
  constexpr double kPiB = 3.1786509424591713469e-08;
  constexpr double kPiC = 1.2246467864107188502e-16;
  constexpr double kPiD = 1.2736634327021899816e-24;
  const v4d t = x * Splat4(kInvPi) + Splat4(kMagic);
  const v4d k = t - Splat4(kMagic);
  v4l bits;
  std::memcpy(&bits, &t, sizeof bits);
  const v4l sign = bits << 63;  // parity of k in the sign bit
  v4d r = x - k * Splat4(kPiA);
  r = r - k * Splat4(kPiB);
  r = r - k * Splat4(kPiC);
  r = r - k * Splat4(kPiD);
  const v4d r2 = r * r;
  v4d p = Splat4(Coef(9));
  p = p * r2 + Splat4(Coef(8));
  p = p * r2 + Splat4(Coef(7));
  p = p * r2 + Splat4(Coef(6));
  p = p * r2 + Splat4(Coef(5));
  p = p * r2 + Splat4(Coef(4));
  p = p * r2 + Splat4(Coef(3));
  p = p * r2 + Splat4(Coef(2));
  p = p * r2 + Splat4(Coef(1));
  const v4d s = r + r * (r2 * p);
  v4l sb;
  std::memcpy(&sb, &s, sizeof sb);
  sb ^= sign;
  v4d out;
  std::memcpy(&out, &sb, sizeof out);
  return out;
}

}  // namespace

KELVANE_MULTI void SinF(const float* x, float* out, int n) {
  for (int t = 0; t < n; t += 8) {
    const v4d a = SinCore(Load4f(x + t));
    const v4d b = SinCore(Load4f(x + t + 4));
    Store4f(out + t, a);
    Store4f(out + t + 4, b);
  }
}

KELVANE_MULTI void SinD(const double* x, float* out, int n) {
  for (int t = 0; t < n; t += 8) {
    const v4d a = SinCore(Load4(x + t));
    const v4d b = SinCore(Load4(x + t + 4));
    Store4f(out + t, a);
    Store4f(out + t + 4, b);
  }
}

KELVANE_MULTI void SinDAdd(const double* x, double add, float* out, int n) {
  const v4d c = Splat4(add);
  for (int t = 0; t < n; t += 8) {
    const v4d a = SinCore(Load4(x + t) + c);
    const v4d b = SinCore(Load4(x + t + 4) + c);
    Store4f(out + t, a);
    Store4f(out + t + 4, b);
  }
}

KELVANE_MULTI void MpxAA(const float* ext, float* d, int n) {
  for (int t = 0; t < n; t += 32) {
    v8f a0 = {}, a1 = {}, a2 = {}, a3 = {};
    for (int i = 0; i < kMpxAATaps; ++i) {
      const float c = MPXAACoef[i];
      const float* p = ext + t + 1 + i;
      a0 = a0 + c * Load8(p);
      a1 = a1 + c * Load8(p + 8);
      a2 = a2 + c * Load8(p + 16);
      a3 = a3 + c * Load8(p + 24);
    }
    Store8(d + t, a0);
    Store8(d + t + 8, a1);
    Store8(d + t + 16, a2);
    Store8(d + t + 24, a3);
  }
}

KELVANE_MULTI void RfFir(const float* even, const float* odd, float* out, int n) {
  // Eight independent accumulators (64 outputs) hide the latency of the additions.
  for (int k = 0; k < n; k += 64) {
    v8f a0 = {}, a1 = {}, a2 = {}, a3 = {}, a4 = {}, a5 = {}, a6 = {}, a7 = {};
    for (int i = 0; i < kRFTaps; ++i) {
      const float c = RFCoef[i];
      const float* p = ((i & 1) ? odd : even) + k + 1 + i / 2;
      a0 = a0 + c * Load8(p);
      a1 = a1 + c * Load8(p + 8);
      a2 = a2 + c * Load8(p + 16);
      a3 = a3 + c * Load8(p + 24);
      a4 = a4 + c * Load8(p + 32);
      a5 = a5 + c * Load8(p + 40);
      a6 = a6 + c * Load8(p + 48);
      a7 = a7 + c * Load8(p + 56);
    }
    Store8(out + k, a0);
    Store8(out + k + 8, a1);
    Store8(out + k + 16, a2);
    Store8(out + k + 24, a3);
    Store8(out + k + 32, a4);
    Store8(out + k + 40, a5);
    Store8(out + k + 48, a6);
    Store8(out + k + 56, a7);
  }
}

KELVANE_MULTI void MixReflection(const float* r, const float* s, float pct, float amp, float* out,
                                 int n) {
  const v8f p = Splat8(pct), h = Splat8(100.0f), a = Splat8(amp);
  for (int k = 0; k < n; k += 8) Store8(out + k, ((Load8(r + k) * p) / h + Load8(s + k)) * a);
}

KELVANE_MULTI void Scale(const float* s, float scale, float* out, int n) {
  const v8f c = Splat8(scale);
  for (int k = 0; k < n; k += 8) Store8(out + k, Load8(s + k) * c);
}

KELVANE_MULTI void StereoMpx(const float* s1, const float* s2, const float* sum, const float* dif,
                             float pilotDev, float devScale, float* out, int n) {
  const v8f pd = Splat8(pilotDev), ds = Splat8(devScale);
  for (int k = 0; k < n; k += 8) {
    Store8(out + k, pd * Load8(s1 + k) + ds * (Load8(sum + k) + Load8(s2 + k) * Load8(dif + k)));
  }
}

KELVANE_MULTI void AddRds(const float* s3, const float* o3, float* mpx, int n) {
  for (int k = 0; k < n; k += 8) Store8(mpx + k, Load8(mpx + k) + Load8(s3 + k) * Load8(o3 + k));
}

KELVANE_MULTI void ToPcm(const float* outI, const float* outQ, float dcI, float dcQ, int16_t* pcm,
                         int n) {
  typedef int v8i __attribute__((vector_size(32)));
  const v8f lo = Splat8(-32768.0f), hi = Splat8(32767.0f);
  for (int k = 0; k < n; k += 8) {
    v8f vi = Load8(outI + k) + dcI;
    v8f vq = Load8(outQ + k) + dcQ;
    vi = vi < lo ? lo : vi;
    vi = vi > hi ? hi : vi;
    vq = vq < lo ? lo : vq;
    vq = vq > hi ? hi : vq;
    const v8i ii = __builtin_convertvector(vi, v8i);
    const v8i qq = __builtin_convertvector(vq, v8i);
    for (int j = 0; j < 8; ++j) {
      pcm[2 * (k + j)] = static_cast<int16_t>(ii[j]);
      pcm[2 * (k + j) + 1] = static_cast<int16_t>(qq[j]);
    }
  }
}

KELVANE_MULTI void PeakAbs(const int16_t* frames, int n, int* left, int* right) {
  int l = *left, r = *right;
  for (int i = 0; i < n; ++i) {
    const int a = frames[2 * i] < 0 ? -frames[2 * i] : frames[2 * i];
    const int b = frames[2 * i + 1] < 0 ? -frames[2 * i + 1] : frames[2 * i + 1];
    l = a > l ? a : l;
    r = b > r ? b : r;
  }
  *left = l;
  *right = r;
}

}  // namespace kelvane::fast
