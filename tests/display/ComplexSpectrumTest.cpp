// SPDX-License-Identifier: GPL-3.0-or-later
// The complex spectrum window: the carrier on its side of I + jQ, the image rejection that a
// gain and phase error leave, and the curve's peak in the carrier's column.
#include <gtest/gtest.h>

#include <QLabel>
#include <array>
#include <cmath>
#include <numbers>

#include "ComplexSpectrumView.h"
#include "PixelHelpers.h"
#include "ScopeView.h"

namespace kelvane {
namespace {

TEST(ComplexSpectrumView, ShowsTheCarrierItsImageAndTheRejection) {
  // Kelvane's output with a carrier offset of +27 bins: I = A sin(phi) + DC,
  // Q = g A cos(phi + p); the DC line at 0 Hz is not taken for the carrier.
  constexpr int kRate = 192000, kFrames = 512;
  constexpr double g = 0.92, p = -31 * std::numbers::pi / 180;
  const double offset_Hz = 27.0 * kRate / kFrames;
  std::array<float, kFrames> i{}, q{};
  for (int n = 0; n < kFrames; ++n) {
    const double phi = 2 * std::numbers::pi * offset_Hz * n / kRate;
    i[static_cast<std::size_t>(n)] = static_cast<float>(13000 * std::sin(phi) + 20000);
    q[static_cast<std::size_t>(n)] = static_cast<float>(g * 13000 * std::cos(phi + p));
  }
  ComplexSpectrumView view;
  view.SetCaptures(i, q, kRate);
  const ComplexSpectrum& s = view.Spectrum();
  ASSERT_EQ(s.level_dB.size(), 512u);
  // A positive offset is a negative frequency of I + jQ.
  ASSERT_TRUE(s.carrier_Hz.has_value());
  EXPECT_DOUBLE_EQ(*s.carrier_Hz, -offset_Hz);
  // |1 + g e^{-jp}|^2 / |1 - g e^{jp}|^2: 11.05 dB for this calibration.
  const double want =
      10 * std::log10((1 + g * g + 2 * g * std::cos(p)) / (1 + g * g - 2 * g * std::cos(p)));
  EXPECT_NEAR(*s.imageRejection_dB, want, 0.05);
  EXPECT_TRUE(view.findChild<QLabel*>(QStringLiteral("ImageRejection"))
                  ->text()
                  .startsWith(QStringLiteral("Image rejection: %1 dB").arg(want, 0, 'f', 1)));
  // The carrier's line, (13000 / 2) |1 + g e^{-jp}| of a full-scale complex tone (-8.7 dB), is
  // the highest green point left of the middle, in the carrier's column.
  const QImage& image = view.RenderFrame();
  const int mid = image.width() / 2;
  int bestRow = image.height(), bestX = -1;
  for (int x = 0; x < mid - 3; ++x) {
    const int row = testing::FirstRowWith(image, x, kScopeCurve1);
    if (row >= 0 && row < bestRow) bestRow = row, bestX = x;
  }
  PlotContext plot;
  QImage probe(image.size(), QImage::Format_RGB32);
  plot.PlotBegin(&probe, kScopeBackground, kScopeForeground, 1.0);
  plot.PlotArea(0, 100, 0, 100, 44, 10, 8, 22, true);
  plot.PlotXAxis(kScopeForeground, QString(), false, -96, 96);
  plot.PlotYAxis(kScopeBackground, QString(), 1, kComplexSpectrumFloor_dB, 0.0f);
  const double level = 20 * std::log10(6500 * std::sqrt(1 + g * g + 2 * g * std::cos(p)) / 32768);
  const auto at = plot.ValueToPixel(-offset_Hz / 1000, level);
  plot.PlotEnd();
  ASSERT_TRUE(at.has_value());
  EXPECT_NEAR(bestX, at->x(), 1);
  EXPECT_NEAR(bestRow, at->y(), 2);
}

}  // namespace
}  // namespace kelvane
