// SPDX-License-Identifier: GPL-3.0-or-later
// Accuracy of the vector sines on the arguments the fill routine forms: pilot phases and their
// 38 kHz and 57 kHz multiples with offsets, carrier phases up to a full turn either way, and the
// quadrature phase added in double precision. Each result is within 2e-7 of the true sine and,
// but for a handful of cases, equal to the correctly rounded float.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "EngineState.h"
#include "FastKernels.h"

namespace kelvane {
namespace {

struct Tally {
  double worst = 0;
  int inexact = 0;
  int count = 0;
  void Add(float got, double truth) {
    worst = std::fmax(worst, std::fabs(static_cast<double>(got) - truth));
    inexact += got != static_cast<float>(truth);
    ++count;
  }
};

// Runs the float kernel over the arguments, in vector-sized pieces with the padding it needs.
Tally CheckFloat(const std::vector<float>& x) {
  const int n = static_cast<int>(x.size());
  std::vector<float> in(x), out(n + fast::kWritePad);
  in.resize(n + fast::kReadPad, 0.0f);
  fast::SinF(in.data(), out.data(), n);
  Tally t;
  for (int i = 0; i < n; ++i) t.Add(out[i], std::sin(static_cast<double>(x[i])));
  return t;
}

Tally CheckDouble(const std::vector<double>& x, double add) {
  const int n = static_cast<int>(x.size());
  std::vector<double> in(x);
  in.resize(n + fast::kReadPad, 0.0);
  std::vector<float> out(n + fast::kWritePad), out0(n + fast::kWritePad);
  fast::SinDAdd(in.data(), add, out.data(), n);
  fast::SinD(in.data(), out0.data(), n);
  Tally t;
  for (int i = 0; i < n; ++i) {
    t.Add(out[i], std::sin(x[i] + add));
    t.Add(out0[i], std::sin(x[i]));
  }
  return t;
}

TEST(SineAccuracy, PilotPhaseAndItsMultiples) {
  // One second of pilot at 192000 Hz, a pilot slightly off 19 kHz, and 44100 Hz.
  for (const float inc : {19000.0f * kTwoPiF / 192000.0f, 19043.0f * kTwoPiF / 192000.0f,
                          19000.0f * kTwoPiF / 44100.0f}) {
    for (const float offset :
         {0.0f, 4.0f * kPiF / 180.0f, -12.0f * kPiF / 180.0f, 179.0f * kPiF / 180.0f, -kPiF}) {
      std::vector<float> p1, p2, p3;
      float pp = 0.0f;
      for (int k = 0; k < 192000; ++k) {
        pp = pp + inc;
        if (pp >= kTwoPiF) pp = pp - kTwoPiF;
        p1.push_back(pp);
        p2.push_back(2.0f * pp + offset);
        p3.push_back(3.0f * pp + offset);
      }
      for (const auto* x : {&p1, &p2, &p3}) {
        const Tally t = CheckFloat(*x);
        EXPECT_LT(t.worst, 2e-7) << inc << " " << offset;
        EXPECT_LE(t.inexact, 2) << inc << " " << offset;
      }
    }
  }
}

TEST(SineAccuracy, CarrierPhasesAcrossTheWholeTurn) {
  // Phases spread over (-2pi, 2pi), dense near the wrap points and near multiples of pi/2,
  // with the quadrature offsets the calibration allows (pi/2 plus up to +-90 degrees).
  std::vector<double> x;
  uint64_t seed = 0x9E3779B97F4A7C15u;
  auto uniform = [&seed] {
    seed = seed * 6364136223846793005u + 1442695040888963407u;
    return static_cast<double>(seed >> 11) / 9007199254740992.0;
  };
  const double turn = static_cast<double>(kTwoPiF);
  for (int i = 0; i < 400000; ++i) x.push_back((2.0 * uniform() - 1.0) * turn);
  for (int m = -4; m <= 4; ++m) {
    for (int i = -2000; i <= 2000; ++i) x.push_back(m * M_PI / 2.0 + i * 1e-9);
  }
  for (int i = 0; i < 1000; ++i) {
    x.push_back(turn - i * 1e-12);
    x.push_back(-turn + i * 1e-12);
  }
  for (const double add : {0.0, M_PI / 2.0, static_cast<double>(kPiF / 2.0f), 0.0523598776,
                           static_cast<double>(90.0f * kPiF / 180.0f + kPiF / 2.0f), -1.2}) {
    const Tally t = CheckDouble(x, add);
    EXPECT_LT(t.worst, 2e-7) << add;
    EXPECT_LE(t.inexact, 3) << add;
  }
}

}  // namespace
}  // namespace kelvane
