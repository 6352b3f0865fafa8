// SPDX-License-Identifier: GPL-3.0-or-later
// Array kernels of the fill routine: sines, the two FIR filters across time and the element-wise
// combinations. Each output lane follows exactly the operation order of the per-call algorithm.
// Kernels work in whole vector groups: they may read up to kReadPad elements and write up to
// kWritePad elements beyond n, so callers pad their arrays.
#pragma once

#include <cstdint>

namespace kelvane::fast {

inline constexpr int kWritePad = 64;
inline constexpr int kReadPad = 64 + 40;

// out[t] = float(sin(double(x[t]))).
void SinF(const float* x, float* out, int n);
// out[t] = float(sin(x[t])).
void SinD(const double* x, float* out, int n);
// out[t] = float(sin(x[t] + add)), the sum formed in double precision.
void SinDAdd(const double* x, double add, float* out, int n);
// The sound-card MPX from the pilot phase: with stereo, mpx[k] = pilotDev * sin(pp[k]) +
// devScale * (sum[k] + sin(2 * pp[k] + phase38) * dif[k]), else sum[k] * devScale; with RDS,
// then mpx[k] = mpx[k] + sin(3 * pp[k] + rdsPhase) * o3[k]. Arguments and sums in single
// precision in exactly this order, each sine as SinF.
struct InputMpxParams {
  bool stereo, rds;
  float pilotDev, devScale, phase38, rdsPhase;
};
void InputMpx(const float* pp, const float* sum, const float* dif, const float* o3,
              const InputMpxParams& p, float* mpx, int n);
// The carrier sines of a chunk: i*[k] = SinD(ph*[k]) and q*[k] = SinDAdd(ph*[k], qPhase), for
// both sub-steps (E and O).
void CarrierSines(const double* phE, const double* phO, double qPhase, float* iE, float* iO,
                  float* qE, float* qO, int n);
// The carrier phase over frames k0 .. k1 - 1, in double precision and in order, with its sines
// and the frame's side work. Per frame k: acc = acc + mpx[k]^2; for sub-step 0 then 1, phase =
// phase + inc + d[2k + j], wrapped by WrapCarrierPhase; the sines i*[k] = float(sin(phase))
// and q*[k] = float(sin(phase + qPhase)) as CarrierSines does them.
// The sines of a group of frames are formed while the phases of the next are summed, so their
// work fills the time the additions wait on one another. ph*, i* and q* may be written up to
// kWritePad elements past k1.
struct CarrierIo {
  const float* d;
  const float* mpx;
  double* phE;
  double* phO;
  float* iE;
  float* iO;
  float* qE;
  float* qO;
  double inc, qPhase, turn;
};
void CarrierRun(const CarrierIo& io, int k0, int k1, double* phase, double* acc);
// The MPX interpolator over a chronological input run: d[t] = sum over i of MPXAACoef[i] *
// ext[t + 1 + i], taps in order 0..17 (ext holds the 18 previous inputs, then the new ones).
void MpxAA(const float* ext, float* d, int n);
// The output filter per output frame, inputs split by sub-step parity: out[k] = sum over i of
// RFCoef[i] * (i even ? even[k + 1 + i / 2] : odd[k + 1 + i / 2]), taps in order 0..75.
void RfFir(const float* even, const float* odd, float* out, int n);
// out[k] = ((r[k] * pct) / 100 + s[k]) * amp: carrier sample plus reflection, scaled.
void MixReflection(const float* r, const float* s, float pct, float amp, float* out, int n);
// mpx[k] = s[k] * scale.
void Scale(const float* s, float scale, float* out, int n);
// mpx[k] = pilotDev * s1[k] + devScale * (sum[k] + s2[k] * dif[k]).
void StereoMpx(const float* s1, const float* s2, const float* sum, const float* dif, float pilotDev,
               float devScale, float* out, int n);
// mpx[k] = mpx[k] + s3[k] * o3[k].
void AddRds(const float* s3, const float* o3, float* mpx, int n);

// *max = the largest of *max and x[0..n), *min = the smallest of *min and x[0..n).
void PeakMinMax(const float* x, int n, float* max, float* min);

// Interleaved 16-bit little-endian I/Q frames, exactly n of them (no padding written): each
// value plus its DC offset, saturated to -32768..32767, truncated toward zero. Returns how many
// of the 2n samples were saturated.
int ToPcm(const float* outI, const float* outQ, float dcI, float dcQ, uint8_t* frames, int n);

// Largest magnitudes of the left and right samples of n interleaved frames, starting from the
// values in *left and *right.
void PeakAbs(const int16_t* frames, int n, int* left, int* right);

}  // namespace kelvane::fast
