// SPDX-License-Identifier: GPL-3.0-or-later
// Vectorised kernels, built for AVX2 and for the baseline instruction set; the loader picks the
// variant the CPU supports. The filters and element-wise kernels use no fused multiply-add:
// every lane rounds like the scalar code. Only the sine uses it, inside its own error budget.
#include "FastKernels.h"

#include <immintrin.h>

#include <cmath>
#include <cstring>

#include "Filters.h"
#include "PhaseWrap.h"

// ThreadSanitizer's runtime is not ready when the ifunc resolvers of target_clones run at load
// time, so a TSan build keeps the portable versions only.
#if defined(__SANITIZE_THREAD__)
#define KELVANE_MULTI
#else
#define KELVANE_MULTI __attribute__((target_clones("avx2", "default")))
#endif
#define KELVANE_INLINE static inline __attribute__((always_inline))

namespace kelvane::fast {

namespace {

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
KELVANE_INLINE v8f Splat8(float x) {
  return v8f{x, x, x, x, x, x, x, x};
}

}  // namespace

// Sines. With AVX2 and FMA: x = k*pi + r with |r| <= pi/2 and sin(x) = (-1)^k sin(r); k*pi is
// taken off in two fused steps (the first one exact for the arguments met here), and sin(r) is
// a degree-17 odd polynomial fitted on [-pi/2, pi/2], good to about 4e-17 before the final
// rounding, so the float results equal the correctly rounded ones in all but a few cases in
// many millions. Without AVX2 and FMA the library sine does the work.
namespace {

bool HasAvx2Fma() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}
const bool kAvx2Fma = HasAvx2Fma();

#define KELVANE_FMA __attribute__((target("avx2,fma"), always_inline)) static inline

KELVANE_FMA __m256d SinFma(__m256d x) {
  const __m256d magic = _mm256_set1_pd(6755399441055744.0);  // 1.5 * 2^52 rounds to an integer
  const __m256d t = _mm256_fmadd_pd(x, _mm256_set1_pd(0.3183098861837907), magic);
  const __m256d k = _mm256_sub_pd(t, magic);
  __m256d r = _mm256_fnmadd_pd(k, _mm256_set1_pd(3.141592653589793), x);
  r = _mm256_fnmadd_pd(k, _mm256_set1_pd(1.2246467991473532e-16), r);
  const __m256d u = _mm256_mul_pd(r, r);
  __m256d p = _mm256_set1_pd(2.7314447669863995e-15);
  p = _mm256_fmadd_pd(p, u, _mm256_set1_pd(-7.6439702967985717e-13));
  p = _mm256_fmadd_pd(p, u, _mm256_set1_pd(1.6058977312464087e-10));
  p = _mm256_fmadd_pd(p, u, _mm256_set1_pd(-2.5052107616996182e-08));
  p = _mm256_fmadd_pd(p, u, _mm256_set1_pd(2.7557319219163234e-06));
  p = _mm256_fmadd_pd(p, u, _mm256_set1_pd(-0.00019841269841254974));
  p = _mm256_fmadd_pd(p, u, _mm256_set1_pd(0.0083333333333333159));
  p = _mm256_fmadd_pd(p, u, _mm256_set1_pd(-0.16666666666666666));
  const __m256d s = _mm256_fmadd_pd(_mm256_mul_pd(r, u), p, r);
  // Parity of k sits in the lowest mantissa bit of t: move it to the sign bit.
  const __m256d sign = _mm256_castsi256_pd(_mm256_slli_epi64(_mm256_castpd_si256(t), 63));
  return _mm256_xor_pd(s, sign);
}

__attribute__((target("avx2,fma"))) void SinFAvx(const float* x, float* out, int n) {
  for (int t = 0; t < n; t += 8) {
    const __m256d a = SinFma(_mm256_cvtps_pd(_mm_loadu_ps(x + t)));
    const __m256d b = SinFma(_mm256_cvtps_pd(_mm_loadu_ps(x + t + 4)));
    _mm256_storeu_ps(out + t, _mm256_set_m128(_mm256_cvtpd_ps(b), _mm256_cvtpd_ps(a)));
  }
}

template <bool kAdd>
__attribute__((target("avx2,fma"))) void SinDAvx(const double* x, double add, float* out, int n) {
  const __m256d c = _mm256_set1_pd(add);
  for (int t = 0; t < n; t += 8) {
    __m256d xa = _mm256_loadu_pd(x + t), xb = _mm256_loadu_pd(x + t + 4);
    if (kAdd) {
      xa = _mm256_add_pd(xa, c);
      xb = _mm256_add_pd(xb, c);
    }
    const __m256d a = SinFma(xa);
    const __m256d b = SinFma(xb);
    _mm256_storeu_ps(out + t, _mm256_set_m128(_mm256_cvtpd_ps(b), _mm256_cvtpd_ps(a)));
  }
}

// Eight floats: their sines, as SinF does them.
KELVANE_FMA __m256 SinFma8(__m256 x) {
  const __m256d a = SinFma(_mm256_cvtps_pd(_mm256_castps256_ps128(x)));
  const __m256d b = SinFma(_mm256_cvtps_pd(_mm256_extractf128_ps(x, 1)));
  return _mm256_set_m128(_mm256_cvtpd_ps(b), _mm256_cvtpd_ps(a));
}

template <bool kStereo, bool kRds>
__attribute__((target("avx2,fma"))) void InputMpxAvx(const float* pp, const float* sum,
                                                     const float* dif, const float* o3,
                                                     const InputMpxParams& p, float* mpx, int n) {
  const __m256 two = _mm256_set1_ps(2.0f), three = _mm256_set1_ps(3.0f);
  const __m256 pd = _mm256_set1_ps(p.pilotDev), ds = _mm256_set1_ps(p.devScale);
  const __m256 ph38 = _mm256_set1_ps(p.phase38), phRds = _mm256_set1_ps(p.rdsPhase);
  for (int k = 0; k < n; k += 8) {
    const __m256 x = _mm256_loadu_ps(pp + k);
    __m256 m;
    if (kStereo) {
      const __m256 s1 = SinFma8(x);
      const __m256 s2 = SinFma8(_mm256_add_ps(_mm256_mul_ps(two, x), ph38));
      const __m256 inner =
          _mm256_add_ps(_mm256_loadu_ps(sum + k), _mm256_mul_ps(s2, _mm256_loadu_ps(dif + k)));
      m = _mm256_add_ps(_mm256_mul_ps(pd, s1), _mm256_mul_ps(ds, inner));
    } else {
      m = _mm256_mul_ps(_mm256_loadu_ps(sum + k), ds);
    }
    if (kRds) {
      const __m256 s3 = SinFma8(_mm256_add_ps(_mm256_mul_ps(three, x), phRds));
      m = _mm256_add_ps(m, _mm256_mul_ps(s3, _mm256_loadu_ps(o3 + k)));
    }
    _mm256_storeu_ps(mpx + k, m);
  }
}

__attribute__((target("avx2,fma"))) void CarrierSinesAvx(const double* phE, const double* phO,
                                                         double qPhase, float* iE, float* iO,
                                                         float* qE, float* qO, int n) {
  const __m256d c = _mm256_set1_pd(qPhase);
  for (int t = 0; t < n; t += 4) {
    const __m256d e = _mm256_loadu_pd(phE + t);
    const __m256d o = _mm256_loadu_pd(phO + t);
    _mm_storeu_ps(iE + t, _mm256_cvtpd_ps(SinFma(e)));
    _mm_storeu_ps(iO + t, _mm256_cvtpd_ps(SinFma(o)));
    _mm_storeu_ps(qE + t, _mm256_cvtpd_ps(SinFma(_mm256_add_pd(e, c))));
    _mm_storeu_ps(qO + t, _mm256_cvtpd_ps(SinFma(_mm256_add_pd(o, c))));
  }
}

// One frame of the carrier loop; returns the two sub-step phases through e and o.
KELVANE_FMA void CarrierFrame(const CarrierIo& io, int k, double& ph, double& acc, double& e,
                              double& o) {
  const double m = io.mpx[k];
  acc = acc + m * m;
  ph = WrapCarrierPhase(ph + io.inc + static_cast<double>(io.d[2 * k]), io.turn);
  e = ph;
  ph = WrapCarrierPhase(ph + io.inc + static_cast<double>(io.d[2 * k + 1]), io.turn);
  o = ph;
}

KELVANE_FMA void CarrierSines4(const CarrierIo& io, int t, __m256d e, __m256d o) {
  const __m256d c = _mm256_set1_pd(io.qPhase);
  _mm_storeu_ps(io.iE + t, _mm256_cvtpd_ps(SinFma(e)));
  _mm_storeu_ps(io.iO + t, _mm256_cvtpd_ps(SinFma(o)));
  _mm_storeu_ps(io.qE + t, _mm256_cvtpd_ps(SinFma(_mm256_add_pd(e, c))));
  _mm_storeu_ps(io.qO + t, _mm256_cvtpd_ps(SinFma(_mm256_add_pd(o, c))));
}

__attribute__((target("avx2,fma"))) void CarrierRunAvx(const CarrierIo& io, int k0, int k1,
                                                       double* phase, double* sum) {
  double ph = *phase, acc = *sum;
  int k = k0;
  __m256d prevE = _mm256_setzero_pd(), prevO = _mm256_setzero_pd();
  bool pending = false;  // prevE/prevO hold the phases of frames k - 4 .. k - 1
  for (; k + 4 <= k1; k += 4) {
    double e0, e1, e2, e3, o0, o1, o2, o3;
    CarrierFrame(io, k, ph, acc, e0, o0);
    CarrierFrame(io, k + 1, ph, acc, e1, o1);
    CarrierFrame(io, k + 2, ph, acc, e2, o2);
    CarrierFrame(io, k + 3, ph, acc, e3, o3);
    if (pending) CarrierSines4(io, k - 4, prevE, prevO);
    prevE = _mm256_set_pd(e3, e2, e1, e0);
    prevO = _mm256_set_pd(o3, o2, o1, o0);
    pending = true;
  }
  if (pending) CarrierSines4(io, k - 4, prevE, prevO);
  const int tail = k;
  for (; k < k1; ++k) CarrierFrame(io, k, ph, acc, io.phE[k], io.phO[k]);
  for (int t = tail; t < k1; t += 4) {
    CarrierSines4(io, t, _mm256_loadu_pd(io.phE + t), _mm256_loadu_pd(io.phO + t));
  }
  *phase = ph;
  *sum = acc;
}

}  // namespace

void SinF(const float* x, float* out, int n) {
  if (kAvx2Fma) {
    SinFAvx(x, out, n);
    return;
  }
  for (int t = 0; t < n; ++t) out[t] = static_cast<float>(std::sin(static_cast<double>(x[t])));
}

void SinD(const double* x, float* out, int n) {
  if (kAvx2Fma) {
    SinDAvx<false>(x, 0.0, out, n);
    return;
  }
  for (int t = 0; t < n; ++t) out[t] = static_cast<float>(std::sin(x[t]));
}

void SinDAdd(const double* x, double add, float* out, int n) {
  if (kAvx2Fma) {
    SinDAvx<true>(x, add, out, n);
    return;
  }
  for (int t = 0; t < n; ++t) out[t] = static_cast<float>(std::sin(x[t] + add));
}

void InputMpx(const float* pp, const float* sum, const float* dif, const float* o3,
              const InputMpxParams& p, float* mpx, int n) {
  if (kAvx2Fma) {
    if (p.stereo && p.rds) InputMpxAvx<true, true>(pp, sum, dif, o3, p, mpx, n);
    if (p.stereo && !p.rds) InputMpxAvx<true, false>(pp, sum, dif, o3, p, mpx, n);
    if (!p.stereo && p.rds) InputMpxAvx<false, true>(pp, sum, dif, o3, p, mpx, n);
    if (!p.stereo && !p.rds) InputMpxAvx<false, false>(pp, sum, dif, o3, p, mpx, n);
    return;
  }
  for (int k = 0; k < n; ++k) {
    float m;
    if (p.stereo) {
      const float s1 = static_cast<float>(std::sin(static_cast<double>(pp[k])));
      const float s2 = static_cast<float>(std::sin(static_cast<double>(2.0f * pp[k] + p.phase38)));
      m = p.pilotDev * s1 + p.devScale * (sum[k] + s2 * dif[k]);
    } else {
      m = sum[k] * p.devScale;
    }
    if (p.rds) {
      const float s3 = static_cast<float>(std::sin(static_cast<double>(3.0f * pp[k] + p.rdsPhase)));
      m = m + s3 * o3[k];
    }
    mpx[k] = m;
  }
}

void CarrierSines(const double* phE, const double* phO, double qPhase, float* iE, float* iO,
                  float* qE, float* qO, int n) {
  if (kAvx2Fma) {
    CarrierSinesAvx(phE, phO, qPhase, iE, iO, qE, qO, n);
    return;
  }
  SinD(phE, iE, n);
  SinD(phO, iO, n);
  SinDAdd(phE, qPhase, qE, n);
  SinDAdd(phO, qPhase, qO, n);
}

void CarrierRun(const CarrierIo& io, int k0, int k1, double* phase, double* sum) {
  if (kAvx2Fma) {
    CarrierRunAvx(io, k0, k1, phase, sum);
    return;
  }
  double ph = *phase, acc = *sum;
  for (int k = k0; k < k1; ++k) {
    const double m = io.mpx[k];
    acc = acc + m * m;
    for (int j = 0; j < 2; ++j) {
      ph = WrapCarrierPhase(ph + io.inc + static_cast<double>(io.d[2 * k + j]), io.turn);
      (j == 0 ? io.phE : io.phO)[k] = ph;
    }
  }
  CarrierSines(io.phE + k0, io.phO + k0, io.qPhase, io.iE + k0, io.iO + k0, io.qE + k0, io.qO + k0,
               k1 - k0);
  *phase = ph;
  *sum = acc;
}

KELVANE_MULTI void MpxAA(const float* ext, float* d, int n) {
  for (int t = 0; t < n; t += 32) {
    v8f a0 = {}, a1 = {}, a2 = {}, a3 = {};
#pragma GCC unroll 18
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
  // Eight independent accumulators (64 outputs) hide the latency of the additions; the taps go
  // in pairs so that each pointer simply advances by one sample.
  for (int k = 0; k < n; k += 64) {
    v8f a0 = {}, a1 = {}, a2 = {}, a3 = {}, a4 = {}, a5 = {}, a6 = {}, a7 = {};
    const float* pe = even + k + 1;
    const float* po = odd + k + 1;
    for (int i = 0; i < kRFTaps; i += 2, ++pe, ++po) {
      const float ce = RFCoef[i];
      a0 = a0 + ce * Load8(pe);
      a1 = a1 + ce * Load8(pe + 8);
      a2 = a2 + ce * Load8(pe + 16);
      a3 = a3 + ce * Load8(pe + 24);
      a4 = a4 + ce * Load8(pe + 32);
      a5 = a5 + ce * Load8(pe + 40);
      a6 = a6 + ce * Load8(pe + 48);
      a7 = a7 + ce * Load8(pe + 56);
      const float co = RFCoef[i + 1];
      a0 = a0 + co * Load8(po);
      a1 = a1 + co * Load8(po + 8);
      a2 = a2 + co * Load8(po + 16);
      a3 = a3 + co * Load8(po + 24);
      a4 = a4 + co * Load8(po + 32);
      a5 = a5 + co * Load8(po + 40);
      a6 = a6 + co * Load8(po + 48);
      a7 = a7 + co * Load8(po + 56);
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

KELVANE_MULTI void PeakMinMax(const float* x, int n, float* max, float* min) {
  v8f hi = Splat8(*max), lo = Splat8(*min);
  int k = 0;
  for (; k + 8 <= n; k += 8) {
    const v8f v = Load8(x + k);
    hi = v > hi ? v : hi;
    lo = v < lo ? v : lo;
  }
  float mx = *max, mn = *min;
  for (int j = 0; j < 8; ++j) {
    if (hi[j] > mx) mx = hi[j];
    if (lo[j] < mn) mn = lo[j];
  }
  for (; k < n; ++k) {
    if (x[k] > mx) mx = x[k];
    if (x[k] < mn) mn = x[k];
  }
  *max = mx;
  *min = mn;
}

KELVANE_MULTI int ToPcm(const float* outI, const float* outQ, float dcI, float dcQ, uint8_t* frames,
                        int n) {
  typedef int v8i __attribute__((vector_size(32)));
  typedef short v8s __attribute__((vector_size(16)));
  typedef short v16s __attribute__((vector_size(32)));
  const v8f lo = Splat8(-32768.0f), hi = Splat8(32767.0f);
  // Saturated: the truncated value would lie outside -32768..32767.
  const v8f over = Splat8(32768.0f), under = Splat8(-32769.0f);
  v8i clipped = {};  // minus the count per lane (a true comparison is -1)
  int k = 0;
  for (; k + 8 <= n; k += 8) {
    v8f vi = Load8(outI + k) + dcI;
    v8f vq = Load8(outQ + k) + dcQ;
    clipped += (vi >= over) | (vi <= under);
    clipped += (vq >= over) | (vq <= under);
    vi = vi < lo ? lo : vi;
    vi = vi > hi ? hi : vi;
    vq = vq < lo ? lo : vq;
    vq = vq > hi ? hi : vq;
    // In range after the clamp, so narrowing to 16 bits keeps the value.
    const v8s ii = __builtin_convertvector(__builtin_convertvector(vi, v8i), v8s);
    const v8s qq = __builtin_convertvector(__builtin_convertvector(vq, v8i), v8s);
    const v16s iq =
        __builtin_shufflevector(ii, qq, 0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15);
    std::memcpy(frames + 4 * k, &iq, sizeof iq);
  }
  int count = 0;
  for (int j = 0; j < 8; ++j) count -= clipped[j];
  for (; k < n; ++k) {
    float vi = outI[k] + dcI, vq = outQ[k] + dcQ;
    count += (vi >= 32768.0f || vi <= -32769.0f) + (vq >= 32768.0f || vq <= -32769.0f);
    vi = vi < -32768.0f ? -32768.0f : vi;
    vi = vi > 32767.0f ? 32767.0f : vi;
    vq = vq < -32768.0f ? -32768.0f : vq;
    vq = vq > 32767.0f ? 32767.0f : vq;
    const int16_t iq[2] = {static_cast<int16_t>(vi), static_cast<int16_t>(vq)};
    std::memcpy(frames + 4 * k, iq, sizeof iq);
  }
  return count;
}

KELVANE_MULTI void PeakAbs(const int16_t* frames, int n, int* left, int* right) {
  // Magnitudes as unsigned 16-bit lanes (32768 fits), even lanes left, odd lanes right.
  typedef unsigned short v16u __attribute__((vector_size(32)));
  v16u m = {};
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    v16u x;
    std::memcpy(&x, frames + 2 * i, sizeof x);
    const v16u neg = -x;
    const v16u a = (x & 0x8000) != 0 ? neg : x;
    m = a > m ? a : m;
  }
  int l = *left, r = *right;
  for (int j = 0; j < 16; j += 2) {
    l = m[j] > l ? m[j] : l;
    r = m[j + 1] > r ? m[j + 1] : r;
  }
  for (; i < n; ++i) {
    const int a = frames[2 * i] < 0 ? -frames[2 * i] : frames[2 * i];
    const int b = frames[2 * i + 1] < 0 ? -frames[2 * i + 1] : frames[2 * i + 1];
    l = a > l ? a : l;
    r = b > r ? b : r;
  }
  *left = l;
  *right = r;
}

}  // namespace kelvane::fast
