// SPDX-License-Identifier: GPL-3.0-or-later
// Plot layer: rectangle, scales, clipping, zero line and pending pixel on a 367 x 218 surface.
#include <gtest/gtest.h>

#include <QImage>
#include <cmath>

#include "DataTable.h"
#include "PixelHelpers.h"
#include "PlotLayer.h"

namespace kelvane {
namespace {

using testing::CountColour;
using testing::Is;

const QColor kBack(0, 0, 39);
const QColor kFore(64, 64, 64);
const QColor kGreen(0, 255, 0);
const QColor kCyan(0, 255, 255);

class PlotLayerTest : public ::testing::Test {
 protected:
  PlotLayerTest() : image(367, 218, QImage::Format_RGB32) { image.fill(Qt::white); }

  // The oscilloscope's set-up, with a chosen x range and y range.
  void Begin(double xMax = 319.0, float yMin = -32768.0f, float yMax = 32768.0f) {
    plot.PlotBegin(&image, kBack, kFore, 0.8);
    plot.PlotArea(0, 100, 0, 100, 5, 10, 3, 15, false);
    ASSERT_TRUE(plot.PlotXAxis(kBack, QString(), false, 0.0, xMax));
    ASSERT_TRUE(plot.PlotYAxis(kBack, QString(), 2, yMin, yMax));
    plot.PlotLineWidth(1);
  }

  void Draw(std::initializer_list<std::pair<float, float>> points, const QColor& colour) {
    Tdatatype t = NewDataTable(static_cast<int>(points.size()), 1);
    int r = 1;
    for (const auto& [x, y] : points) {
      t.At(r, 0) = x;
      t.At(r, 1) = y;
      ++r;
    }
    plot.SetPenColor(colour);
    plot.PlotCurves(t, 1, 2);
  }

  QImage image;
  PlotContext plot;
};

TEST_F(PlotLayerTest, OscilloscopeAreaIsFiveTo357ByThreeTo203WithABorder) {
  Begin();
  plot.PlotEnd();
  const PlotRectangle& r = plot.Rectangle();
  EXPECT_EQ(r.left, 5);
  EXPECT_EQ(r.Right(), 357);
  EXPECT_EQ(r.top, 3);
  EXPECT_EQ(r.Bottom(), 203);
  EXPECT_EQ(r.width, 352);
  EXPECT_EQ(r.height, 200);
  // One-pixel border in the foreground colour around a background surface.
  for (auto [x, y] : {std::pair{0, 0}, {366, 0}, {0, 217}, {366, 217}, {100, 0}, {0, 100}}) {
    EXPECT_TRUE(Is(image, x, y, kFore)) << x << "," << y;
  }
  for (auto [x, y] : {std::pair{1, 1}, {365, 216}, {200, 50}, {4, 103}, {360, 103}}) {
    EXPECT_TRUE(Is(image, x, y, kBack)) << x << "," << y;
  }
  EXPECT_EQ(CountColour(image, Qt::white), 0);
}

TEST_F(PlotLayerTest, ZeroLineIsFourOnFourOffFromTheLeftEdge) {
  Begin();
  plot.PlotEnd();
  ASSERT_EQ(plot.ValueToPixel(0.0, 0.0), QPoint(5, 103));
  for (int x = 5; x <= 357; ++x) {
    const bool on = ((x - 5) & 4) == 0;
    EXPECT_TRUE(Is(image, x, 103, on ? kFore : kBack)) << x;
  }
  EXPECT_TRUE(Is(image, 4, 103, kBack));
  EXPECT_TRUE(Is(image, 358, 103, kBack));
  // The only foreground pixels are the border and the zero line (45 groups of four, less 3).
  EXPECT_EQ(CountColour(image, kFore, QRect(1, 1, 365, 216)), 45 * 4 - 3);
}

TEST_F(PlotLayerTest, ZeroLineOnlyInsideTheRectangleAndNotOnItsBottomRow) {
  Begin(319.0, 100.0f, 200.0f);  // 0 not in range
  plot.PlotEnd();
  EXPECT_EQ(CountColour(image, kFore, QRect(1, 1, 365, 216)), 0);

  Begin(319.0, 0.0f, 100.0f);  // 0 on the bottom row
  plot.PlotEnd();
  EXPECT_EQ(CountColour(image, kFore, QRect(1, 1, 365, 216)), 0);

  Begin(319.0, -100.0f, 0.0f);  // 0 on the top row
  plot.PlotEnd();
  EXPECT_TRUE(Is(image, 5, 3, kFore));
  EXPECT_TRUE(Is(image, 9, 3, kBack));
}

TEST_F(PlotLayerTest, PointAtTheXMaximumIsOnTheRightEdgeAndBeyondIsClipped) {
  Begin();
  Draw({{0.0f, 10000.0f}, {319.0f, 10000.0f}}, kGreen);
  plot.PlotEnd();
  ASSERT_EQ(plot.ValueToPixel(319.0, 10000.0), QPoint(357, 72));
  for (int x = 5; x <= 357; ++x) EXPECT_TRUE(Is(image, x, 72, kGreen)) << x;
  EXPECT_EQ(CountColour(image, kGreen), 353);

  Begin();
  Draw({{300.0f, 10000.0f}, {400.0f, 10000.0f}, {500.0f, 0.0f}}, kGreen);
  plot.PlotEnd();
  EXPECT_TRUE(Is(image, 357, 72, kGreen));
  EXPECT_TRUE(Is(image, 358, 72, kBack));
  EXPECT_EQ(CountColour(image, kGreen, QRect(358, 0, 9, 218)), 0);
}

TEST_F(PlotLayerTest, MinusFortyThousandIsCutAtTheBottomEdge) {
  Begin();
  Draw({{100.0f, 0.0f}, {100.0f, -40000.0f}, {200.0f, -40000.0f}, {200.0f, 5000.0f}}, kGreen);
  plot.PlotEnd();
  const int x1 = plot.ValueToPixel(100.0, 0.0)->x();
  const int x2 = plot.ValueToPixel(200.0, 0.0)->x();
  EXPECT_EQ(plot.ValueToPixel(100.0, -40000.0)->y(), 225);
  EXPECT_EQ(testing::FirstRowWith(image, x1, kGreen), 103);
  EXPECT_EQ(testing::LastRowWith(image, x1, kGreen), 203);
  EXPECT_EQ(testing::LastRowWith(image, x2, kGreen), 203);
  // The stretch at -40000 lies wholly below the rectangle and is skipped.
  EXPECT_EQ(CountColour(image, kGreen, QRect(0, 204, 367, 14)), 0);
  EXPECT_EQ(CountColour(image, kGreen, QRect(x1 + 1, 0, x2 - x1 - 1, 218)), 0);
}

TEST_F(PlotLayerTest, LineEndIsPendingUntilTheNextMoveOrPlotEnd) {
  Begin();
  Draw({{0.0f, 10000.0f}, {10.0f, 10000.0f}}, kGreen);
  const QPoint end = *plot.ValueToPixel(10.0, 10000.0);
  EXPECT_TRUE(Is(image, end.x() - 1, end.y(), kGreen));
  EXPECT_FALSE(Is(image, end.x(), end.y(), kGreen));
  // The next curve's move paints it, in the colour of the line it ends.
  Draw({{100.0f, -10000.0f}, {110.0f, -10000.0f}}, kCyan);
  EXPECT_TRUE(Is(image, end.x(), end.y(), kGreen));
  const QPoint end2 = *plot.ValueToPixel(110.0, -10000.0);
  EXPECT_FALSE(Is(image, end2.x(), end2.y(), kCyan));
  plot.PlotEnd();
  EXPECT_TRUE(Is(image, end2.x(), end2.y(), kCyan));
  // The second curve used the same y scale, in the new pen colour.
  EXPECT_EQ(end2.y(), 134);
  EXPECT_EQ(CountColour(image, kCyan), end2.x() - plot.ValueToPixel(100.0, 0.0)->x() + 1);
}

TEST_F(PlotLayerTest, PixelCoordinatesAreLimitedAndNaNPointsAreSkipped) {
  Begin();
  EXPECT_EQ(plot.ValueToPixel(1e12, -1e30)->x(), 32767);
  EXPECT_EQ(plot.ValueToPixel(1e12, -1e30)->y(), 32767);
  EXPECT_EQ(plot.ValueToPixel(-1e12, 1e30)->x(), -32768);
  EXPECT_EQ(plot.ValueToPixel(-1e12, 1e30)->y(), -32768);
  EXPECT_FALSE(plot.ValueToPixel(std::nan(""), 0.0).has_value());

  const float nan = std::nanf("");
  // A far-off point still gives a clipped, sensible segment; a NaN point breaks the line.
  Draw({{0.0f, 0.0f}, {1e30f, 1e30f}}, kGreen);
  Draw({{50.0f, 8000.0f}, {60.0f, nan}, {70.0f, 8000.0f}, {80.0f, 8000.0f}}, kCyan);
  plot.PlotEnd();
  const int y = plot.ValueToPixel(0.0, 8000.0)->y();
  const int x50 = plot.ValueToPixel(50.0, 0.0)->x();
  const int x70 = plot.ValueToPixel(70.0, 0.0)->x();
  const int x80 = plot.ValueToPixel(80.0, 0.0)->x();
  EXPECT_EQ(CountColour(image, kCyan, QRect(x50 + 1, 0, x70 - x50 - 1, 218)), 0);
  EXPECT_EQ(CountColour(image, kCyan, QRect(x70, y, x80 - x70 + 1, 1)), x80 - x70 + 1);
  EXPECT_TRUE(Is(image, 5, 103, kGreen));
  EXPECT_EQ(CountColour(image, kGreen, QRect(0, 0, 367, 3)), 0);
}

TEST_F(PlotLayerTest, ColumnsOfAWiderTableFollowTheirSlotAxes) {
  plot.PlotBegin(&image, kBack, kFore, 0.8);
  plot.PlotArea(0, 100, 0, 100, 5, 10, 3, 15, false);
  ASSERT_TRUE(plot.PlotXAxis(kBack, QString(), false, 0.0, 319.0));
  ASSERT_TRUE(plot.PlotYAxis(kGreen, QString(), 2, -32768.0f, 32768.0f));  // slot 2
  ASSERT_TRUE(plot.PlotYAxis(kCyan, QString(), 4, 0.0f, 100.0f));          // slot 4
  Tdatatype t = NewDataTable(2, 3);
  t.At(0, 1) = 2.0f;  // column 1 against slot 2
  t.At(0, 2) = 4.0f;  // column 2 against slot 4
  t.At(0, 3) = 0.5f;  // excluded
  t.At(1, 0) = 0.0f;
  t.At(2, 0) = 319.0f;
  t.At(1, 1) = t.At(2, 1) = 10000.0f;
  t.At(1, 2) = t.At(2, 2) = 50.0f;
  t.At(1, 3) = t.At(2, 3) = -30000.0f;
  plot.SetPenColor(Qt::red);
  plot.PlotCurves(t, 1, 2);
  plot.PlotEnd();
  EXPECT_TRUE(Is(image, 50, 72, kGreen));
  EXPECT_TRUE(Is(image, 50, 103, kCyan));  // 50 on 0 .. 100 is mid-height
  EXPECT_EQ(CountColour(image, Qt::red), 0);
}

TEST_F(PlotLayerTest, InvalidAxesAndAreasDrawNothing) {
  plot.PlotBegin(&image, kBack, kFore, 0.0);
  plot.PlotArea(0, 100, 0, 100, 200, 200, 3, 15, false);  // no width left
  EXPECT_FALSE(plot.AreaValid());
  EXPECT_FALSE(plot.PlotXAxis(kBack, QString(), false, 0.0, 1.0));
  EXPECT_FALSE(plot.PlotYAxis(kBack, QString(), 2, -1.0f, 1.0f));
  plot.PlotArea(0, 100, 0, 100, 5, 10, 3, 15, false);
  EXPECT_FALSE(plot.PlotXAxis(kBack, QString(), false, 3.0, 3.0));
  EXPECT_FALSE(plot.PlotYAxis(kBack, QString(), 9, -1.0f, 1.0f));
  EXPECT_FALSE(plot.PlotYAxis(kBack, QString(), 2, 1.0f, 1.0f));
  EXPECT_FALSE(plot.ValueToPixel(0.0, 0.0).has_value());
  plot.PlotEnd();
  EXPECT_EQ(CountColour(image, kFore, QRect(1, 1, 365, 216)), 0);
}

}  // namespace
}  // namespace kelvane
