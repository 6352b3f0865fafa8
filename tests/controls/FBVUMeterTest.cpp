// SPDX-License-Identifier: GPL-3.0-or-later
// The level bar meter: segment scale, zones, lit counts and the pixels of lit and unlit segments.
#include <cmath>

#include "ControlLooks.h"
#include "FBVUMeter.h"
#include "Helpers.h"

namespace {

// The main window's meter: 73 x 209, -50 dB scale, medium from -15 dB, high from -3 dB.
struct Meter : kt::Host {
  TFBVUMeter m{&window};
  Meter() {
    kelvane::looks::levelMeter(&m);
    m.setGeometry(8, 16, 73, 209);
    m.show();
  }
  QColor segmentPixel(int bar, int i) {
    return kt::pixel(kt::render(&m), m.barLeft(bar) + 5, m.segmentY(i));
  }
};

// A level halfway (in dB) between the thresholds of segments i and i + 1.
float between(const TFBVUMeter& m, int i) {
  return static_cast<float>(std::sqrt(m.threshold(i) * m.threshold(i + 1)));
}

const QColor kYellow(255, 255, 0), kLime(0, 255, 0), kRed(255, 0, 0);

}  // namespace

TEST(FBVUMeter, ScaleOfTheMainWindowMeter) {
  Meter t;
  EXPECT_EQ(t.m.topSegment(), 68);
  EXPECT_NEAR(20 * std::log10(t.m.threshold(0)), -50.0, 1e-9);
  EXPECT_NEAR(20 * std::log10(t.m.threshold(1)), -50.0 + 50.0 / 68, 1e-9);
  EXPECT_DOUBLE_EQ(t.m.threshold(68), 1.0);
  EXPECT_EQ(t.m.medZoneBound(), 48);   // medium from segment 49
  EXPECT_EQ(t.m.highZoneBound(), 64);  // high from segment 65
  EXPECT_EQ(t.m.segmentColor(48, true), kYellow);
  EXPECT_EQ(t.m.segmentColor(49, true), kLime);
  EXPECT_EQ(t.m.segmentColor(64, true), kLime);
  EXPECT_EQ(t.m.segmentColor(65, true), kRed);
  EXPECT_EQ(t.m.segmentColor(65, false), QColor(127, 0, 0));
  EXPECT_EQ(t.m.segmentColor(10, false), QColor(127, 127, 0));
  EXPECT_EQ(t.m.segmentY(0), 207);
  EXPECT_EQ(t.m.segmentY(68), 3);
  // Stereo bars: 1..34 and 37..71.
  EXPECT_EQ(t.m.barLeft(0), 1);
  EXPECT_EQ(t.m.barRight(0), 34);
  EXPECT_EQ(t.m.barLeft(1), 37);
  EXPECT_EQ(t.m.barRight(1), 71);
}

TEST(FBVUMeter, SizesAndLimits) {
  TFBVUMeter m;
  EXPECT_EQ(m.size(), QSize(32, 152));
  EXPECT_EQ(m.topSegment(), 49);
  m.resize(32, 8);
  m.SetLevels(0, 0);
  EXPECT_EQ(m.topSegment(), 1);
  m.resize(32, 400);
  m.SetLevels(0, 0);
  EXPECT_EQ(m.topSegment(), 100);
  EXPECT_EQ(m.segmentY(100), 98);  // all within the bottom 302 pixels

  m.setLevelMin(10);  // above levelMax 0
  EXPECT_EQ(m.levelMin(), -1);
  m.setLevelMin(-50);
  m.setLevelMax(-60);
  EXPECT_EQ(m.levelMax(), -49);
  m.setLevelMax(0);
  m.setLevelHigh(5);
  EXPECT_EQ(m.levelHigh(), 0);
  m.setLevelMed(-80);
  EXPECT_EQ(m.levelMed(), -50);
}

TEST(FBVUMeter, LitCountsRisingAndFalling) {
  Meter t;
  t.m.SetLevels(0.00001f, 0.00001f);  // -100 dB
  EXPECT_EQ(t.m.litCount(0), 0);
  EXPECT_EQ(t.m.litCount(1), 0);

  t.m.SetLevels(1.0f, 0.5f);
  EXPECT_EQ(t.m.litCount(0), 68);  // 0..67; the 0 dB segment never lights
  EXPECT_EQ(t.m.segmentsDrawnLastUpdate(), 68 + t.m.litCount(1));

  const float mid = between(t.m, 10);
  t.m.SetLevels(mid, mid);
  EXPECT_EQ(t.m.litCount(0), 11);
  EXPECT_EQ(t.m.litCount(1), 11);
  const QImage fell = kt::render(&t.m);

  Meter rising;
  rising.m.SetLevels(mid, mid);
  EXPECT_EQ(rising.m.litCount(0), 11);
  EXPECT_EQ(rising.m.segmentsDrawnLastUpdate(), 22);
  EXPECT_EQ(kt::render(&rising.m), fell);

  // Only changes are drawn.
  rising.m.SetLevels(mid, mid);
  EXPECT_EQ(rising.m.segmentsDrawnLastUpdate(), 0);
  rising.m.SetLevels(between(rising.m, 4), mid);
  EXPECT_EQ(rising.m.litCount(0), 5);
  EXPECT_EQ(rising.m.segmentsDrawnLastUpdate(), 6);
}

TEST(FBVUMeter, PixelsOfLitAndUnlitSegments) {
  Meter t;
  t.m.SetLevels(1.0f, 0.00001f);
  EXPECT_TRUE(kt::sameColor(t.segmentPixel(0, 10), kYellow));
  EXPECT_TRUE(kt::sameColor(t.segmentPixel(0, 50), kLime));
  EXPECT_TRUE(kt::sameColor(t.segmentPixel(0, 66), kRed));
  EXPECT_TRUE(kt::sameColor(t.segmentPixel(0, 68), QColor(127, 0, 0)));
  EXPECT_TRUE(kt::sameColor(t.segmentPixel(1, 10), QColor(127, 127, 0)));
  EXPECT_TRUE(kt::sameColor(t.segmentPixel(1, 50), QColor(0, 127, 0)));
  // Gaps between segments and between the bars keep the background.
  const QImage img = kt::render(&t.m);
  EXPECT_TRUE(kt::sameColor(kt::pixel(img, 10, t.m.segmentY(10) - 2), QColor(23, 23, 23)));
  EXPECT_TRUE(kt::sameColor(kt::pixel(img, 35, t.m.segmentY(10)), QColor(23, 23, 23)));

  t.m.SetLevels(between(t.m, 20), 0.00001f);  // falling: 21 lit
  EXPECT_TRUE(kt::sameColor(t.segmentPixel(0, 20), kYellow));
  EXPECT_TRUE(kt::sameColor(t.segmentPixel(0, 21), QColor(127, 127, 0)));
  EXPECT_TRUE(kt::sameColor(t.segmentPixel(0, 50), QColor(0, 127, 0)));
  EXPECT_TRUE(kt::sameColor(t.segmentPixel(0, 66), QColor(127, 0, 0)));
}

TEST(FBVUMeter, PropertyChangeRedrawsEverythingUnlit) {
  Meter t;
  t.m.SetLevels(1.0f, 1.0f);
  t.m.setColorLow(QColor(0, 0, 200));
  EXPECT_EQ(t.m.litCount(0), 0);
  EXPECT_TRUE(kt::sameColor(t.segmentPixel(0, 10), QColor(0, 0, 100)));
  t.m.setStereo(false);
  EXPECT_EQ(t.m.barRight(0), 71);
  t.m.SetLevels(1.0f, 0.0f);
  EXPECT_TRUE(kt::sameColor(t.segmentPixel(0, 10), QColor(0, 0, 200)));
  EXPECT_TRUE(kt::sameColor(kt::pixel(kt::render(&t.m), 36, t.m.segmentY(10)), QColor(0, 0, 200)));
}
