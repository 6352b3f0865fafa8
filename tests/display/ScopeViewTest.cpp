// SPDX-License-Identifier: GPL-3.0-or-later
// Pixel checks on the rendered oscilloscope: colours, curve counts, zero line, Preamp clipping.
#include <gtest/gtest.h>

#include <QImage>
#include <QPixmap>
#include <cmath>
#include <numbers>
#include <type_traits>

#include "PixelHelpers.h"
#include "ScopeView.h"

namespace kelvane {
namespace {

using testing::CountColour;
using testing::Is;

const QRect kPlot(5, 3, 353, 201);  // columns 5 .. 357, rows 3 .. 203
constexpr int kZeroRow = 103;

class ScopeViewTest : public ::testing::Test {
 protected:
  QImage Render(int scopeFunc, bool preamp = false) {
    QImage image(kScopeWidth, kScopeHeight, QImage::Format_RGB32);
    image.fill(Qt::white);
    PaintBox1Paint(image, cap, scopeFunc, preamp, fft, plot);
    return image;
  }
  int Green(const QImage& image) const { return CountColour(image, kScopeCurve1); }
  int Cyan(const QImage& image) const { return CountColour(image, kScopeCurve2); }

  void Sine(double amplitude, double cyclesPer512, auto& capture, double phase = 0.0) {
    for (int i = 0; i < kScopeCaptureFrames; ++i) {
      const double v =
          amplitude * std::sin(2.0 * std::numbers::pi * cyclesPer512 * i / 512 + phase);
      capture[static_cast<std::size_t>(i)] =
          static_cast<std::remove_reference_t<decltype(capture[0])>>(v);
    }
  }

  ScopeCaptures cap;
  SpectrumAnalyzer fft;
  PlotContext plot;
};

TEST_F(ScopeViewTest, BeforeAnyRunWaveformViewsAreFlatOnTheZeroLine) {
  // Two curves on the same row: the cyan one is drawn last and covers the green one.
  for (int view : {ScopeInput, ScopeOutput}) {
    const QImage image = Render(view);
    for (int x = 5; x <= 357; ++x) EXPECT_TRUE(Is(image, x, kZeroRow, kScopeCurve2)) << x;
    EXPECT_EQ(Cyan(image), 353) << view;
    EXPECT_EQ(Green(image), 0) << view;
  }
  const QImage mpx = Render(ScopeMpx, true);
  for (int x = 5; x <= 357; ++x) EXPECT_TRUE(Is(mpx, x, kZeroRow, kScopeCurve1)) << x;
  EXPECT_EQ(Green(mpx), 353);
  EXPECT_EQ(Cyan(mpx), 0);
}

TEST_F(ScopeViewTest, BeforeAnyRunSpectrumViewsShowOnlyTheZeroLine) {
  for (int view : {ScopeMpxFft, ScopeOutputFft}) {
    const QImage image = Render(view);
    EXPECT_EQ(Green(image) + Cyan(image), 0) << view;
    EXPECT_EQ(CountColour(image, kScopeForeground, kPlot), 177) << view;
    EXPECT_TRUE(Is(image, 5, kZeroRow, kScopeForeground));
    EXPECT_TRUE(Is(image, 200, 50, kScopeBackground));
  }
}

TEST_F(ScopeViewTest, InputOutputAndOutputFftDrawTwoCurvesMpxViewsOne) {
  cap.CapInL.fill(8000);
  cap.CapInR.fill(-8000);
  const QImage input = Render(ScopeInput);
  // +8000 and -8000 lie 24.4 rows above and below the zero line.
  EXPECT_TRUE(Is(input, 100, 79, kScopeCurve1));
  EXPECT_TRUE(Is(input, 100, 127, kScopeCurve2));
  EXPECT_EQ(Green(input), 353);
  EXPECT_EQ(Cyan(input), 353);

  Sine(3000.0f, 8.0, cap.CapOutI);
  Sine(3000.0f, 8.0, cap.CapOutQ, std::numbers::pi / 2);
  const QImage output = Render(ScopeOutput);
  // Sine and cosine cross, so parts of the green curve lie under the cyan one.
  EXPECT_GT(Green(output), 300);
  EXPECT_GE(Cyan(output), 353);
  const QImage outputFft = Render(ScopeOutputFft);
  EXPECT_GT(Green(outputFft), 0);
  EXPECT_GT(Cyan(outputFft), 0);
  // The spectrum views stop at bin 254, the right edge; bins 255 and beyond are clipped.
  EXPECT_EQ(CountColour(outputFft, kScopeCurve1, QRect(358, 0, 9, 218)), 0);

  Sine(0.3f, 20.0, cap.CapMpx);
  for (int view : {ScopeMpx, ScopeMpxFft}) {
    const QImage image = Render(view);
    EXPECT_GT(Green(image), 0) << view;
    EXPECT_EQ(Cyan(image), 0) << view;
  }
}

TEST_F(ScopeViewTest, OutputFftPeakOfAFullScaleSinePlotsNear26200) {
  Sine(32767.0f, 64.0, cap.CapOutI);  // centred on bin 64
  const QImage image = Render(ScopeOutputFft);
  // Ordinate about 26227: nearest(203 - 200 * (26227 + 32768) / 65536) = 23.
  const int x = static_cast<int>(std::nearbyint(5 + 352.0 * 64 / 254));
  EXPECT_EQ(testing::FirstRowWith(image, x, kScopeCurve1), 23);
  // Q is empty: its curve lies wholly below the view.
  EXPECT_EQ(Cyan(image), 0);
}

TEST_F(ScopeViewTest, PreampFiveTimesClipsAtTheTopEdge) {
  Sine(10000.0f, 8.0, cap.CapInL);
  const QImage plain = Render(ScopeInput, false);
  EXPECT_EQ(CountColour(plain, kScopeCurve1, QRect(0, 0, 367, 60)), 0);
  const QImage boosted = Render(ScopeInput, true);
  EXPECT_GT(CountColour(boosted, kScopeCurve1, QRect(5, 3, 353, 1)), 0);    // top edge row
  EXPECT_GT(CountColour(boosted, kScopeCurve1, QRect(5, 203, 353, 1)), 0);  // bottom edge row
  EXPECT_EQ(CountColour(boosted, kScopeCurve1, QRect(0, 0, 367, 3)), 0);
  EXPECT_EQ(CountColour(boosted, kScopeCurve1, QRect(0, 204, 367, 14)), 0);
  // The border stays intact above the clipped curve.
  EXPECT_TRUE(Is(boosted, 100, 0, kScopeForeground));
}

TEST_F(ScopeViewTest, UnknownViewDrawsCurveOneFromXOneAlongTheZeroLine) {
  cap.CapInL.fill(5000);
  const QImage image = Render(9);
  EXPECT_TRUE(Is(image, 5, kZeroRow, kScopeForeground));
  for (int x = 6; x <= 357; ++x) EXPECT_TRUE(Is(image, x, kZeroRow, kScopeCurve1)) << x;
  EXPECT_EQ(Green(image), 352);
  EXPECT_EQ(Cyan(image), 0);
}

TEST_F(ScopeViewTest, WidgetPaintsTheFrameAndViewChangesWaitForARepaint) {
  ScopeView view;
  EXPECT_EQ(view.size(), QSize(367, 218));
  EXPECT_EQ(view.ScopeFunc(), ScopeOutput);
  EXPECT_TRUE(view.testAttribute(Qt::WA_OpaquePaintEvent));
  view.Captures().CapInL.fill(8000);
  view.SetScopeFunc(ScopeInput);

  const QImage shown = view.grab().toImage().convertToFormat(QImage::Format_RGB32);
  const QImage frame = view.Frame().convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(shown.size(), frame.size());
  EXPECT_EQ(shown, frame);
  EXPECT_TRUE(Is(shown, 100, 79, kScopeCurve1));

  // Switching the view changes nothing until the next paint.
  view.SetScopeFunc(ScopeMpxFft);
  view.SetPreamp(true);
  EXPECT_TRUE(Is(view.Frame(), 100, 79, kScopeCurve1));
  const QImage& redrawn = view.RenderFrame();
  EXPECT_EQ(CountColour(redrawn, kScopeCurve1), 0);
}

}  // namespace
}  // namespace kelvane
