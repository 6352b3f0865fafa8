// SPDX-License-Identifier: GPL-3.0-or-later
// The parameter table: ranges, first-run values and the spinner normalisation.
#include <gtest/gtest.h>

#include "ParamTable.h"

namespace kelvane {
namespace {

TEST(ParamTable, FirstRunValuesDifferFromDesignOnlyForCalibration) {
  const ParamValues p = ParamValues::FirstRun();
  EXPECT_EQ(p[ParamId::LRGainRatio], 1.0);
  EXPECT_EQ(p[ParamId::LRPhaseOffset], 0.0);
  EXPECT_EQ(p[ParamId::DCOffsetL], 50.0);
  EXPECT_EQ(p[ParamId::DCOffsetR], 50.0);
  EXPECT_EQ(ParamInfo(ParamId::LRGainRatio).designValue, 0.92);
  EXPECT_EQ(ParamInfo(ParamId::LRPhaseOffset).designValue, -31.0);
  int differing = 0;
  for (const auto& row : kParamTable) {
    EXPECT_GE(row.firstRun, row.minValue) << row.key;
    EXPECT_LE(row.firstRun, row.maxValue) << row.key;
    if (row.firstRun != row.designValue) ++differing;
  }
  EXPECT_EQ(differing, 4);
}

TEST(ParamTable, NormaliseClampsAndRoundsToDisplayedPrecision) {
  EXPECT_EQ(NormaliseParam(ParamId::MaxOutputSwing, 500), 100.0);
  EXPECT_EQ(NormaliseParam(ParamId::MaxOutputSwing, 0), 1.0);
  EXPECT_DOUBLE_EQ(NormaliseParam(ParamId::LRGainRatio, 0.923), 0.92);
  EXPECT_DOUBLE_EQ(NormaliseParam(ParamId::SinePeakDev, 12.34), 12.3);
  EXPECT_EQ(NormaliseParam(ParamId::SineModFreq, 999.6), 1000.0);
  EXPECT_EQ(NormaliseParam(ParamId::CarrierFreq, -40000), -30000.0);
}

// A stored tie loads as the spinner shows it: halves away from zero on the 15-digit decimal
// form, so 12.35 (binary 12.3499999...) counts as the tie it was written as.
TEST(ParamTable, TiesRoundAwayFromZeroAsTheSpinnerShowsThem) {
  EXPECT_EQ(NormaliseParam(ParamId::MDelay, 2.5), 3.0);              // "3 smp"
  EXPECT_EQ(NormaliseParam(ParamId::SinePeakDev, 12.35), 12.4);      // "12.4 kHz"
  EXPECT_EQ(NormaliseParam(ParamId::DCOffsetL, 50.125), 50.13);      // "50.13 % of FS"
  EXPECT_EQ(NormaliseParam(ParamId::LRPhaseOffset, -30.25), -30.3);  // "-30.3 deg."
  EXPECT_EQ(NormaliseParam(ParamId::CarrierFreq, -0.4), 0.0);        // no "-0"
  EXPECT_EQ(NormaliseParam(ParamId::SinePeakDev, 149.96), 150.0);    // carry into a new digit
  EXPECT_EQ(NormaliseParam(ParamId::LRGainRatio, 0.995), 1.0);
}

TEST(ParamTable, KeysAreUniqueAndFound) {
  for (const auto& row : kParamTable) {
    auto id = FindParamByKey(row.key);
    ASSERT_TRUE(id.has_value()) << row.key;
    EXPECT_EQ(*id, row.id);
  }
  EXPECT_FALSE(FindParamByKey("sinepeakdev").has_value());
  EXPECT_FALSE(FindParamByKey("Top").has_value());
}

}  // namespace
}  // namespace kelvane
