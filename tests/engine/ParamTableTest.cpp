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
  EXPECT_EQ(NormaliseParam(ParamId::MDelay, 2.5), 2.0);  // fixed-point text rounds half to even
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
