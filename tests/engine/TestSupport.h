// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers shared by the engine tests: buffers, sample access, a Goertzel detector, and a
// fixture that runs the engine block by block.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "Modulator.h"
#include "Reference.h"

namespace kelvane::test {

inline int16_t SampleAt(const std::vector<uint8_t>& buf, int frame, int channel) {
  const std::size_t i = 4 * static_cast<std::size_t>(frame) + 2 * channel;
  return static_cast<int16_t>(buf[i] | (buf[i + 1] << 8));
}

// Stereo frames packed as 16-bit little-endian capture bytes.
inline std::vector<uint8_t> PackFrames(const std::vector<int16_t>& l,
                                       const std::vector<int16_t>& r) {
  std::vector<uint8_t> out(4 * l.size());
  for (std::size_t i = 0; i < l.size(); ++i) {
    const uint16_t a = static_cast<uint16_t>(l[i]), b = static_cast<uint16_t>(r[i]);
    out[4 * i] = a & 0xFF;
    out[4 * i + 1] = a >> 8;
    out[4 * i + 2] = b & 0xFF;
    out[4 * i + 3] = b >> 8;
  }
  return out;
}

// Complex amplitude of frequency f in x (sampled at fs), normalised so that a sine of
// amplitude A gives magnitude A/2... times 2, i.e. A.
inline double ToneAmplitude(const std::vector<double>& x, double f, double fs) {
  double re = 0.0, im = 0.0;
  const double w = 2.0 * M_PI * f / fs;
  // Hann window keeps leakage from the strong tones out of the weak ones.
  const std::size_t n = x.size();
  double wsum = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const double h =
        0.5 - 0.5 * std::cos(2.0 * M_PI * static_cast<double>(i) / static_cast<double>(n));
    re += h * x[i] * std::cos(w * static_cast<double>(i));
    im -= h * x[i] * std::sin(w * static_cast<double>(i));
    wsum += h;
  }
  return 2.0 * std::hypot(re, im) / wsum;
}

// One engine with test controls; Run fills `frames` frames into buf.
class EngineRun : public ::testing::Test {
 protected:
  ref::TestControls c;
  Modulator m{c};
  std::vector<uint8_t> buf;
  bool Run(int frames) {
    buf.assign(4 * static_cast<std::size_t>(frames), 0);
    const int size = static_cast<int>(buf.size());
    return m.AudioOut1FillBuffer(buf.data(), size);
  }
  void RunSeconds(double seconds, int block = 4096) {
    int left = static_cast<int>(seconds * m.FrameRate());
    while (left > 0) {
      Run(std::min(left, block));
      left -= block;
    }
  }
};

}  // namespace kelvane::test
