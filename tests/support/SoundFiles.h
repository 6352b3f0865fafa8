// SPDX-License-Identifier: GPL-3.0-or-later
// Writes test signals in any format libsndfile can encode (FLAC, MP3, WAV, ...).
#pragma once

#include <sndfile.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

namespace kelvane::testing {

// One sample of channel `c` at frame `n`, full scale 1.0.
using SampleAt = std::function<double(int c, long n)>;

// Writes `frames` frames of `channels` channels at `rate` in `format` (SF_FORMAT_* major |
// subtype); false with libsndfile's reason when the format cannot be written.
inline bool WriteSound(const std::string& path, int format, int rate, int channels, long frames,
                       const SampleAt& sample, std::string& error) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = format;
  if (!sf_format_check(&info)) {
    error = "libsndfile cannot write this format";
    return false;
  }
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!f) {
    error = sf_strerror(nullptr);
    return false;
  }
  std::vector<double> block;
  for (long n = 0; n < frames;) {
    const long count = std::min(frames - n, 4096L);
    block.resize(static_cast<std::size_t>(count * channels));
    for (long k = 0; k < count; ++k) {
      for (int c = 0; c < channels; ++c)
        block[static_cast<std::size_t>(k * channels + c)] = sample(c, n + k);
    }
    if (sf_writef_double(f, block.data(), count) != count) {
      error = sf_strerror(f);
      sf_close(f);
      return false;
    }
    n += count;
  }
  return sf_close(f) == 0;
}

// A tone per channel: amplitude (full scale 1.0) and frequency, both channels.
inline SampleAt Tones(int rate, double leftHz, double leftAmp, double rightHz, double rightAmp) {
  return [=](int c, long n) {
    const double t = static_cast<double>(n) / rate;
    return c == 0 ? leftAmp * std::sin(2 * M_PI * leftHz * t)
                  : rightAmp * std::sin(2 * M_PI * rightHz * t);
  };
}

}  // namespace kelvane::testing
