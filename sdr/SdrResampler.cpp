// SPDX-License-Identifier: GPL-3.0-or-later
// libsoxr at its high-quality setting: 20-bit precision, so images and aliases lie far below
// the 80 dB the transmitted spectrum needs (measured in the tests).
#include "SdrResampler.h"

#include <soxr.h>

#include <cmath>
#include <new>

namespace kelvane::sdr {

SdrResampler::~SdrResampler() {
  if (soxr_ != nullptr) soxr_delete(soxr_);
  delete[] scratch_;
}

bool SdrResampler::Open(double inRate, double outRate, std::size_t maxInFrames,
                        std::string& error) {
  if (soxr_ != nullptr) soxr_delete(soxr_);
  soxr_ = nullptr;
  delete[] scratch_;
  scratch_ = new (std::nothrow) float[2 * maxInFrames];
  if (scratch_ == nullptr) {
    error = "out of memory for the resampler";
    return false;
  }
  const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
  soxr_error_t e = nullptr;
  soxr_ = soxr_create(inRate, outRate, 2, &e, &io, &quality, nullptr);
  if (e != nullptr || soxr_ == nullptr) {
    error = std::string("cannot resample ") + std::to_string(inRate) + " to " +
            std::to_string(outRate) + " S/s: " + (e != nullptr ? e : "libsoxr failed");
    return false;
  }
  maxIn_ = maxInFrames;
  // soxr may hand out a little more than the ratio while its filter fills and empties.
  maxOut_ =
      static_cast<std::size_t>(std::ceil(static_cast<double>(maxInFrames) * outRate / inRate)) +
      4096;
  return true;
}

std::size_t SdrResampler::Process(const int16_t* in, std::size_t inFrames, float* out) {
  if (inFrames > maxIn_) inFrames = maxIn_;
  // I - jQ: the engine's carrier offset lies below zero in I + jQ (Q leads I); conjugated, the
  // carrier goes out at the centre frequency plus the offset.
  for (std::size_t k = 0; k < inFrames; ++k) {
    scratch_[2 * k] = static_cast<float>(in[2 * k]) / 32768.0f;
    scratch_[2 * k + 1] = -static_cast<float>(in[2 * k + 1]) / 32768.0f;
  }
  std::size_t done = 0;
  std::size_t made = 0;
  soxr_process(soxr_, scratch_, inFrames, &done, out, maxOut_, &made);
  return made;
}

}  // namespace kelvane::sdr
