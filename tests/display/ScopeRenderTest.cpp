// SPDX-License-Identifier: GPL-3.0-or-later
// Renders the five views of synthetic signals to PNG files (kept when KELVANE_SCOPE_PNG_DIR names
// a folder) and checks where the spectral peaks land.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <cmath>
#include <numbers>

#include "PixelHelpers.h"
#include "ScopeView.h"

namespace kelvane {
namespace {

constexpr double kFs = 192000.0;
constexpr double kTwoPi = 2.0 * std::numbers::pi;

// Stereo input tones, an MPX of a 2 kHz tone at 40 kHz deviation plus the 19 kHz pilot at
// 6.8 kHz, and the I/Q of a carrier 12 kHz above 0 Hz, FM-modulated by 3 kHz at 5 kHz deviation,
// at 10 % of full scale.
ScopeCaptures SyntheticCaptures() {
  ScopeCaptures c;
  double carrier = 0.0;
  for (int i = 0; i < kScopeCaptureFrames; ++i) {
    const auto n = static_cast<std::size_t>(i);
    const double t = i / kFs;
    c.CapInL[n] = static_cast<int32_t>(8000.0 * std::sin(kTwoPi * 3000.0 * t));
    c.CapInR[n] = static_cast<int32_t>(5000.0 * std::sin(kTwoPi * 5000.0 * t));
    const double mpxHz =
        40000.0 * std::sin(kTwoPi * 2000.0 * t) + 6800.0 * std::sin(kTwoPi * 19000.0 * t);
    c.CapMpx[n] = static_cast<float>(kTwoPi * mpxHz / kFs);
    const double instHz = 12000.0 + 5000.0 * std::sin(kTwoPi * 3000.0 * t);
    carrier += kTwoPi * instHz / kFs;
    c.CapOutI[n] = std::trunc(static_cast<float>(3276.0 * std::cos(carrier)));
    c.CapOutQ[n] = std::trunc(static_cast<float>(3276.0 * std::sin(carrier)));
  }
  return c;
}

TEST(ScopeRenderTest, FiveViewsOfSyntheticSignals) {
  QTemporaryDir temp;
  const QByteArray keep = qgetenv("KELVANE_SCOPE_PNG_DIR");
  const QString dir = keep.isEmpty() ? temp.path() : QString::fromLocal8Bit(keep);
  ASSERT_TRUE(QDir().mkpath(dir));

  ScopeView view;
  view.SetCaptures(SyntheticCaptures());
  const char* names[] = {"", "input", "mpx", "output", "mpx-fft", "output-fft"};
  for (int f = ScopeInput; f <= ScopeOutputFft; ++f) {
    for (bool preamp : {false, true}) {
      view.SetScopeFunc(f);
      view.SetPreamp(preamp);
      const QImage& frame = view.RenderFrame();
      const QString file = QStringLiteral("%1/scope-%2%3.png")
                               .arg(dir, QString::fromLatin1(names[f]),
                                    preamp ? QStringLiteral("-preamp") : QString());
      EXPECT_TRUE(frame.save(file)) << file.toStdString();
      EXPECT_GT(testing::CountColour(frame, kScopeCurve1), 0) << f;
    }
  }

  // Peaks of the MPX spectrum: the 2 kHz tone and the pilot, 375 Hz per bin.
  view.SetScopeFunc(ScopeMpxFft);
  view.SetPreamp(false);
  const QImage& mpxFft = view.RenderFrame();
  const auto column = [](double hz) {
    return static_cast<int>(std::nearbyint(5 + 352.0 * (hz / 375.0) / 254.0));
  };
  const int toneTop = testing::FirstRowWith(mpxFft, column(2000.0), kScopeCurve1);
  const int pilotTop = testing::FirstRowWith(mpxFft, column(19000.0), kScopeCurve1);
  const int between = testing::FirstRowWith(mpxFft, column(11000.0), kScopeCurve1);
  ASSERT_GE(toneTop, 3);
  ASSERT_GE(pilotTop, 3);
  EXPECT_LT(toneTop, pilotTop);  // 40 kHz deviation above 6.8 kHz
  // Between the two the rounding floor lies below the view, or at least well under the pilot.
  EXPECT_TRUE(between < 0 || between > pilotTop + 20) << between;

  // The carrier 12 kHz up shows near bin 32 in both I and Q.
  view.SetScopeFunc(ScopeOutputFft);
  const QImage& outFft = view.RenderFrame();
  const int carrierTopI = testing::FirstRowWith(outFft, column(12000.0), kScopeCurve1);
  const int carrierTopQ = testing::FirstRowWith(outFft, column(12000.0), kScopeCurve2);
  EXPECT_GT(carrierTopQ, 0);
  EXPECT_LT(std::min(carrierTopI < 0 ? 999 : carrierTopI, carrierTopQ), 100);
}

}  // namespace
}  // namespace kelvane
