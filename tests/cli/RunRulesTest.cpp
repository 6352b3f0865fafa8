// SPDX-License-Identifier: GPL-3.0-or-later
// Run rules: the buffer-size table of every rate and length, the lists, where RDS is allowed.
#include <gtest/gtest.h>

#include "RunRules.h"

namespace kelvane {
namespace {

TEST(RunRules, BufferSizeTableForEveryRateAndLength) {
  const int rates[4] = {44100, 48000, 96000, 192000};
  const int expected[5][4] = {{16384, 16384, 32768, 65536},        // 50 ms
                              {32768, 32768, 65536, 131072},       // 100 ms
                              {65536, 65536, 131072, 262144},      // 250 ms
                              {131072, 131072, 262144, 524288},    // 500 ms
                              {262144, 262144, 524288, 1048576}};  // 1 s
  for (int len = 0; len < 5; ++len) {
    for (int r = 0; r < 4; ++r) {
      EXPECT_EQ(PlaybackBufferSize(rates[r], len), expected[len][r])
          << BufferLengthMs(len) << " ms at " << rates[r] << " Hz";
      EXPECT_EQ(SamplingRateForIndex(r), rates[r]);
    }
  }
}

TEST(RunRules, BufferSizeEdges) {
  // Target 8820 bytes -> 16384; 192000 bytes -> 262144.
  EXPECT_EQ(PlaybackBufferSize(44100, 0), 16384);
  EXPECT_EQ(PlaybackBufferSize(192000, 2), 262144);
  // An exact power of two is kept: 1000 ms * 4 * 16384 / 1000 = 65536.
  EXPECT_EQ(PlaybackBufferSize(16384, 4), 65536);
  // Tiny targets are raised to the stream's 512 bytes; huge ones stop at 2^24.
  EXPECT_EQ(PlaybackBufferSize(100, 0), 512);
  EXPECT_EQ(PlaybackBufferSize(0, 2), 512);
  EXPECT_EQ(PlaybackBufferSize(8000000, 4), 16777216);
  // No selection in the buffer-length list falls back to 250 ms.
  EXPECT_EQ(BufferLengthMs(-1), 250);
  EXPECT_EQ(BufferLengthMs(5), 250);
  EXPECT_EQ(PlaybackBufferSize(192000, -1), 262144);
}

TEST(RunRules, RatesAndRds) {
  EXPECT_EQ(SamplingRateForIndex(-1), -1);
  EXPECT_EQ(SamplingRateForIndex(4), -1);
  EXPECT_EQ(SamplingRateForIndex(7), -1);
  EXPECT_TRUE(RdsAllowed(192000));
  EXPECT_FALSE(RdsAllowed(96000));
  EXPECT_FALSE(RdsAllowed(48000));
  EXPECT_FALSE(RdsAllowed(44100));
}

}  // namespace
}  // namespace kelvane
