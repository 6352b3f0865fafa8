// SPDX-License-Identifier: GPL-3.0-or-later
// Buffer-size rule and the rate and length lists of the run control.
#include "RunRules.h"

#include <algorithm>
#include <cstdint>

namespace kelvane {

int BufferLengthMs(int cbblIndex) {
  static constexpr int kMs[] = {50, 100, 250, 500, 1000};
  return (cbblIndex >= 0 && cbblIndex < 5) ? kMs[cbblIndex] : 250;
}

int PlaybackBufferSize(int frameRate, int cbblIndex) {
  // 4 bytes per 16-bit stereo frame; 64-bit so that no rate can overflow the product.
  const std::int64_t target =
      static_cast<std::int64_t>(BufferLengthMs(cbblIndex)) * 4 * frameRate / 1000;
  int b = 2;
  for (int i = 0; i < 23 && b < target; ++i) b *= 2;
  return std::max(b, 512);  // the stream's smallest buffer
}

int SamplingRateForIndex(int cbsrIndex) {
  static constexpr int kRates[] = {44100, 48000, 96000, 192000};
  return (cbsrIndex >= 0 && cbsrIndex < 4) ? kRates[cbsrIndex] : -1;
}

bool RdsAllowed(int frameRate) {
  return frameRate == 192000;
}

}  // namespace kelvane
