// SPDX-License-Identifier: GPL-3.0-or-later
// Curve building for the five oscilloscope views.
#include "ScopeCurves.h"

#include <cstddef>

namespace kelvane {
namespace {

// Scale of the "MPX" view: 75 kHz deviation at 192 kHz lands just beyond full scale.
constexpr float kMpxScale = 13400.0f;
constexpr int kLog2Capture = 9;

template <typename Ordinate>
void FillSpectrum(Tdatatype& curve, const std::array<float, kScopeCaptureFrames>& capture,
                  SpectrumAnalyzer& spectrum, Ordinate ordinate) {
  spectrum.MakeFFT(capture, 0, kLog2Capture);
  const auto& mag = spectrum.FftMag();
  for (int i = 0; i < kScopeBins; ++i) {
    const auto bin = static_cast<std::size_t>(i);
    // Bins an earlier transform never produced count as empty.
    const float m = bin < mag.size() ? mag[bin] : 0.0f;
    curve.At(i + 1, 0) = static_cast<float>(i);
    curve.At(i + 1, 1) = ordinate(m);
  }
}

void FillInput(Tdatatype& curve, const std::array<int32_t, kScopeCaptureFrames>& capture,
               int gain) {
  for (int i = 0; i < kScopePoints; ++i) {
    // 64-bit product: a capture holds sign-extended 16-bit samples, but never overflow.
    const int64_t v = static_cast<int64_t>(capture[static_cast<std::size_t>(i)]) * gain;
    curve.At(i + 1, 0) = static_cast<float>(i);
    curve.At(i + 1, 1) = static_cast<float>(v);
  }
}

void FillFloat(Tdatatype& curve, const std::array<float, kScopeCaptureFrames>& capture, float scale,
               float gain) {
  for (int i = 0; i < kScopePoints; ++i) {
    curve.At(i + 1, 0) = static_cast<float>(i);
    curve.At(i + 1, 1) = capture[static_cast<std::size_t>(i)] * scale * gain;
  }
}

}  // namespace

ScopeCurves BuildScopeCurves(const ScopeCaptures& captures, int scopeFunc, bool preamp,
                             SpectrumAnalyzer& spectrum) {
  ScopeCurves out;
  out.curve1 = NewDataTable(kScopePoints, 1);
  out.curve2 = NewDataTable(kScopePoints, 1);
  const int gain = preamp ? 5 : 1;
  out.xMax = 319.0;

  switch (scopeFunc) {
    case ScopeInput:
      FillInput(out.curve1, captures.CapInL, gain);
      FillInput(out.curve2, captures.CapInR, gain);
      out.drawCurve2 = true;
      break;
    case ScopeMpx:
      FillFloat(out.curve1, captures.CapMpx, kMpxScale, static_cast<float>(gain));
      break;
    case ScopeOutput:
      FillFloat(out.curve1, captures.CapOutI, 1.0f, 1.0f);
      FillFloat(out.curve2, captures.CapOutQ, 1.0f, 1.0f);
      out.drawCurve2 = true;
      break;
    case ScopeMpxFft:
      out.xMax = 254.0;
      FillSpectrum(out.curve1, captures.CapMpx, spectrum, MpxFftOrdinate);
      break;
    case ScopeOutputFft:
      out.xMax = 254.0;
      FillSpectrum(out.curve1, captures.CapOutI, spectrum, OutputFftOrdinate);
      FillSpectrum(out.curve2, captures.CapOutQ, spectrum, OutputFftOrdinate);
      out.drawCurve2 = true;
      break;
    default:
      break;
  }
  return out;
}

}  // namespace kelvane
