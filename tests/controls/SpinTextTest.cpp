// SPDX-License-Identifier: GPL-3.0-or-later
// Formatting and reading of spinner texts.
#include <gtest/gtest.h>

#include "SpinText.h"

using namespace kelvane::spintext;

namespace {
const QChar kPoint('.');
const QChar kComma(',');
}  // namespace

TEST(SpinText, FixedFormatWithUnit) {
  EXPECT_EQ(formatValue(10, 1, "kHz", kPoint), "10.0 kHz");
  EXPECT_EQ(formatValue(0.92, 2, "", kPoint), "0.92");
  EXPECT_EQ(formatValue(-30000, 0, "Hz", kPoint), "-30000 Hz");
  EXPECT_EQ(formatValue(50, 2, "% of FS", kComma), "50,00 % of FS");
}

TEST(SpinText, FixedFormatRoundsTheDecimalFormHalfAwayFromZero) {
  // 149.85 is stored just below the half; the 15-digit decimal form is exactly on it.
  EXPECT_EQ(formatNumber(149.85, 1, kPoint), "149.9");
  EXPECT_EQ(formatNumber(0.125, 2, kPoint), "0.13");
  EXPECT_EQ(formatNumber(-0.125, 2, kPoint), "-0.13");
  EXPECT_EQ(formatNumber(9.96, 1, kPoint), "10.0");
  EXPECT_EQ(formatNumber(0.006, 2, kPoint), "0.01");
  EXPECT_EQ(formatNumber(0.004, 2, kPoint), "0.00");
  EXPECT_EQ(formatNumber(-0.001, 2, kPoint), "0.00");
  EXPECT_EQ(formatNumber(149.8 + 0.1, 1, kPoint), "149.9");
  EXPECT_EQ(formatNumber(0.15 - 0.01, 2, kPoint), "0.14");
  EXPECT_EQ(formatNumber(60000, 0, kPoint), "60000");
  EXPECT_EQ(formatNumber(0.5, 0, kPoint), "1");
  EXPECT_EQ(formatNumber(1234567.891, 6, kPoint), "1234567.891000");
}

TEST(SpinText, GeneralFormatHasFourSignificantDigits) {
  EXPECT_EQ(formatNumber(3.14159, -1, kPoint), "3.142");
  EXPECT_EQ(formatNumber(2.5, -1, kPoint), "2.5");
  EXPECT_EQ(formatNumber(12345, -1, kPoint).left(5), "1.235");
}

TEST(SpinText, NumberPartStripsTheUnit) {
  EXPECT_EQ(numberPart("10.0 kHz", "kHz"), "10.0");
  EXPECT_EQ(numberPart("  7   % of FS", "% of FS"), "7");
  // Unit missing, or found at the first two characters: the text before the first space.
  EXPECT_EQ(numberPart("12 Hz", "kHz"), "12");
  EXPECT_EQ(numberPart("5", "kHz"), "5");
  EXPECT_EQ(numberPart("%x 5", "%"), "%x");
  EXPECT_EQ(numberPart("2.5", ""), "2.5");
}

TEST(SpinText, EveryNonDigitBecomesTheSeparator) {
  EXPECT_EQ(parseNumber("1.5", "", kPoint), 1.5);
  EXPECT_EQ(parseNumber("1,5", "", kPoint), 1.5);
  EXPECT_EQ(parseNumber("1e5", "", kPoint), 1.5);
  EXPECT_EQ(parseNumber("1.5", "", kComma), 1.5);
  EXPECT_EQ(parseNumber("1,5", "", kComma), 1.5);
  EXPECT_EQ(parseNumber("-30000 Hz", "Hz", kPoint), -30000.0);
  EXPECT_EQ(parseNumber("1 234 Hz", "Hz", kPoint), 1234.0);
  EXPECT_EQ(parseNumber(".5", "", kPoint), 0.5);
  EXPECT_EQ(parseNumber("5.", "", kPoint), 5.0);
}

TEST(SpinText, EmptyAndMinusAloneReadAsZero) {
  EXPECT_EQ(parseNumber("", "kHz", kPoint), 0.0);
  EXPECT_EQ(parseNumber("-", "", kPoint), 0.0);
  EXPECT_EQ(parseNumber("- kHz", "kHz", kPoint), 0.0);
}

TEST(SpinText, UnconvertibleTextsFail) {
  EXPECT_FALSE(parseNumber("abc kHz", "kHz", kPoint).has_value());  // three separators
  EXPECT_FALSE(parseNumber("1.2.3", "", kPoint).has_value());
  EXPECT_FALSE(parseNumber("1-2", "", kPoint).has_value());
  EXPECT_FALSE(parseNumber("   ", "", kPoint).has_value());
  EXPECT_FALSE(parseNumber(QString(400, QLatin1Char('9')), "", kPoint).has_value());
}
