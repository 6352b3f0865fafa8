// SPDX-License-Identifier: GPL-3.0-or-later
// Tap tables and the plain per-call forms of the two FIR filters.
#include "Filters.h"

namespace kelvane {

namespace {
template <std::size_t N, std::size_t H>
constexpr std::array<float, N> Mirror(const std::array<float, H>& half) {
  static_assert(N == 2 * H);
  std::array<float, N> t{};
  for (std::size_t i = 0; i < H; ++i) t[i] = t[N - 1 - i] = half[i];
  return t;
}
}  // namespace

const std::array<float, kMpxAATaps> MPXAACoef = Mirror<kMpxAATaps, 9>(
    std::array<float, 9>{0.0026865809f, -0.0037780362f, -0.012465218f, 0.01578492f, 0.03760243f,
                         -0.046028208f, -0.10302734f, 0.12758814f, 0.4813489f});

const std::array<float, kRFTaps> RFCoef = Mirror<kRFTaps, 38>(std::array<float, 38>{
    5.8672824e-05f, -0.005556463f, 0.015383442f,   -0.018536575f,  0.006902521f,   0.007538057f,
    -0.006470929f,  -0.005221516f, 0.0060530547f,  0.0048559057f,  -0.0061471374f, -0.0051502516f,
    0.00662412f,    0.0057582413f, -0.0073866406f, -0.0065896767f, 0.008404902f,   0.0076279016f,
    -0.009675246f,  -0.008912344f, 0.011236784f,   0.01051394f,    -0.013167124f,  -0.012561049f,
    0.015627416f,   0.015225906f,  -0.018851634f,  -0.018854782f,  0.023301799f,   0.02411893f,
    -0.029943462f,  -0.032528803f, 0.041205868f,   0.048175447f,   -0.06491439f,   -0.088481545f,
    0.15098809f,    0.448908f});

float MPXFIRAA(EngineState& s, float x) {
  s.MPXAARing[s.MPXAAIndex] = x;
  if (++s.MPXAAIndex > kMpxAATaps - 1) s.MPXAAIndex = 0;
  float sum = 0.0f;
  for (int i = 0; i < kMpxAATaps; ++i)
    sum = sum + MPXAACoef[i] * s.MPXAARing[(s.MPXAAIndex + i) % kMpxAATaps];
  return sum;
}

float RFFIR(EngineState& s, int channel, int substep, float x) {
  auto& ring = s.RFRing[channel];
  ring[s.RFIndex] = x;
  if (++s.RFIndex > kRFTaps - 1) s.RFIndex = 0;
  float sum = 0.0f;
  if (substep == 1) {
    for (int i = 0; i < kRFTaps; ++i) sum = sum + RFCoef[i] * ring[(s.RFIndex + i) % kRFTaps];
  }
  // The I call steps the shared index back so the Q call stores at the same position.
  if (channel == 0 && --s.RFIndex < 0) s.RFIndex = kRFTaps - 1;
  return sum;
}

}  // namespace kelvane
