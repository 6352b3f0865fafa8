// SPDX-License-Identifier: GPL-3.0-or-later
// The oscilloscope's curve data: captures, view selector and Preamp turned into plot tables.
#pragma once

#include <array>
#include <cstdint>

#include "DataTable.h"
#include "Spectrum.h"

namespace kelvane {

// Frames kept per capture by the generator and the capture handler.
inline constexpr int kScopeCaptureFrames = 512;
// Points per curve table, and points drawn by the waveform views.
inline constexpr int kScopePoints = 320;
// Bins drawn by the spectrum views.
inline constexpr int kScopeBins = 256;

// Values of ScopeFunc, the view selector.
inline constexpr int ScopeInput = 1;
inline constexpr int ScopeMpx = 2;
inline constexpr int ScopeOutput = 3;
inline constexpr int ScopeMpxFft = 4;
inline constexpr int ScopeOutputFft = 5;

// A copy of the five captures the views are drawn from; all zero before any run.
struct ScopeCaptures {
  std::array<int32_t, kScopeCaptureFrames> CapInL{};
  std::array<int32_t, kScopeCaptureFrames> CapInR{};
  std::array<float, kScopeCaptureFrames> CapOutI{};
  std::array<float, kScopeCaptureFrames> CapOutQ{};
  std::array<float, kScopeCaptureFrames> CapMpx{};
};

struct ScopeCurves {
  Tdatatype curve1;     // drawn green
  Tdatatype curve2;     // drawn cyan, only when drawCurve2
  double xMax = 319.0;  // right end of the x axis (the left end is 0)
  bool drawCurve2 = false;
};

// Fills the two 320-point tables for the view `scopeFunc` (1 .. 5). Preamp multiplies the
// "Input" and "MPX" views by 5. A selector outside 1 .. 5 leaves curve 1 at its initial points.
// The spectrum views run MakeFFT on `spectrum`, which keeps the last result.
ScopeCurves BuildScopeCurves(const ScopeCaptures& captures, int scopeFunc, bool preamp,
                             SpectrumAnalyzer& spectrum);

}  // namespace kelvane
