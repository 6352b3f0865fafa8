// SPDX-License-Identifier: GPL-3.0-or-later
// Curve tables of the five oscilloscope views.
#include <gtest/gtest.h>

#include <cmath>

#include "DataTable.h"
#include "ScopeCurves.h"

namespace kelvane {
namespace {

TEST(DataTableTest, NewTableHasRowNumbersAsXAndSlotNumbersInTheHeader) {
  const Tdatatype t = NewDataTable(320, 2);
  ASSERT_EQ(t.RowCount(), 321);
  ASSERT_EQ(t.CellsPerRow(), 3);
  EXPECT_EQ(t.FirstDataRow(), 1);
  EXPECT_EQ(t.At(0, 0), 0.0f);
  EXPECT_EQ(t.At(0, 1), 1.0f);
  EXPECT_EQ(t.At(0, 2), 2.0f);
  EXPECT_EQ(t.At(1, 0), 1.0f);
  EXPECT_EQ(t.At(320, 0), 320.0f);
  EXPECT_EQ(t.At(320, 2), 0.0f);

  Tdatatype styled = NewDataTable(10, 1);
  styled.At(0, 0) = 1.0f;  // layout flag: seven style rows follow the header
  EXPECT_EQ(styled.FirstDataRow(), 8);
}

class ScopeCurvesTest : public ::testing::Test {
 protected:
  ScopeCaptures cap;
  SpectrumAnalyzer fft;
};

TEST_F(ScopeCurvesTest, InputViewIsTheIntegerSamplesTimesPreampGain) {
  for (int i = 0; i < kScopeCaptureFrames; ++i) {
    cap.CapInL[static_cast<std::size_t>(i)] = 10000;
    cap.CapInR[static_cast<std::size_t>(i)] = -32768 + i;
  }
  const ScopeCurves plain = BuildScopeCurves(cap, ScopeInput, false, fft);
  EXPECT_TRUE(plain.drawCurve2);
  EXPECT_EQ(plain.xMax, 319.0);
  EXPECT_EQ(plain.curve1.At(1, 1), 10000.0f);
  EXPECT_EQ(plain.curve2.At(320, 1), static_cast<float>(-32768 + 319));

  const ScopeCurves boosted = BuildScopeCurves(cap, ScopeInput, true, fft);
  for (int r = 1; r <= kScopePoints; ++r) {
    EXPECT_EQ(boosted.curve1.At(r, 0), static_cast<float>(r - 1));
    EXPECT_EQ(boosted.curve1.At(r, 1), 50000.0f);
  }
  EXPECT_EQ(boosted.curve2.At(1, 1), -163840.0f);
}

TEST_F(ScopeCurvesTest, MpxViewScalesBy13400AndPreamp) {
  cap.CapMpx[0] = 2.4543693f;  // 75 kHz at 192 kHz in radians per sample
  cap.CapMpx[319] = -0.5f;
  cap.CapMpx[320] = 9.0f;  // beyond the 320 points shown
  const ScopeCurves c = BuildScopeCurves(cap, ScopeMpx, false, fft);
  EXPECT_FALSE(c.drawCurve2);
  EXPECT_NEAR(c.curve1.At(1, 1), 32888.55f, 0.01f);
  EXPECT_EQ(c.curve1.At(320, 1), -6700.0f);
  EXPECT_EQ(c.curve1.At(320, 0), 319.0f);
  const ScopeCurves boosted = BuildScopeCurves(cap, ScopeMpx, true, fft);
  EXPECT_EQ(boosted.curve1.At(320, 1), -33500.0f);
}

TEST_F(ScopeCurvesTest, OutputViewIsRawIAndQWithoutPreamp) {
  cap.CapOutI[5] = 3276.0f;
  cap.CapOutQ[5] = -3277.0f;
  const ScopeCurves c = BuildScopeCurves(cap, ScopeOutput, true, fft);
  EXPECT_TRUE(c.drawCurve2);
  EXPECT_EQ(c.curve1.At(6, 1), 3276.0f);
  EXPECT_EQ(c.curve2.At(6, 1), -3277.0f);
}

TEST_F(ScopeCurvesTest, SpectrumViewsPlot256BinsAndKeepTheTailRows) {
  const ScopeCurves mpx = BuildScopeCurves(cap, ScopeMpxFft, false, fft);
  EXPECT_EQ(mpx.xMax, 254.0);
  EXPECT_FALSE(mpx.drawCurve2);
  for (int r = 1; r <= kScopeBins; ++r) {
    EXPECT_EQ(mpx.curve1.At(r, 0), static_cast<float>(r - 1));
    EXPECT_EQ(mpx.curve1.At(r, 1), -40000.0f);
  }
  for (int r = kScopeBins + 1; r <= kScopePoints; ++r) {
    EXPECT_EQ(mpx.curve1.At(r, 0), static_cast<float>(r));
    EXPECT_EQ(mpx.curve1.At(r, 1), 0.0f);
  }

  // I on bin 40 full scale, Q empty: each curve takes its own transform.
  for (int i = 0; i < kScopeCaptureFrames; ++i) {
    cap.CapOutI[static_cast<std::size_t>(i)] =
        static_cast<float>(32767.0 * std::sin(2.0 * 3.141592653589793 * 40 * i / 512));
  }
  const ScopeCurves out = BuildScopeCurves(cap, ScopeOutputFft, true, fft);
  EXPECT_TRUE(out.drawCurve2);
  EXPECT_NEAR(out.curve1.At(41, 1), 26227.0f, 10.0f);
  EXPECT_EQ(out.curve2.At(41, 1), -40000.0f);
}

TEST_F(ScopeCurvesTest, UnknownViewLeavesCurveOneAtItsInitialPoints) {
  cap.CapOutI.fill(1000.0f);
  for (int view : {0, 6, -1}) {
    const ScopeCurves c = BuildScopeCurves(cap, view, false, fft);
    EXPECT_FALSE(c.drawCurve2);
    EXPECT_EQ(c.xMax, 319.0);
    EXPECT_EQ(c.curve1.At(1, 0), 1.0f);
    EXPECT_EQ(c.curve1.At(320, 0), 320.0f);
    EXPECT_EQ(c.curve1.At(100, 1), 0.0f);
  }
}

}  // namespace
}  // namespace kelvane
