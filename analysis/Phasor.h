// SPDX-License-Identifier: GPL-3.0-or-later
// A complex oscillator e^{j (2 pi f n / rate + phase0)} stepped one sample at a time: one complex
// multiplication per step instead of a sine and a cosine, set back to the exact value every
// 1024 steps so that rounding cannot accumulate over long recordings.
#pragma once

#include <cmath>
#include <complex>
#include <cstddef>

namespace kelvane::receiver {

class Phasor {
 public:
  Phasor(double freq, double rate, double phase0, std::size_t n)
      : freq_(freq), rate_(rate), phase0_(phase0), n_(n), step_(std::polar(1.0, Arg(1))) {
    Reset();
  }
  const std::complex<double>& operator*() const { return value_; }
  void Next() {
    ++n_;
    if (++count_ == 1024) {
      Reset();
    } else {
      value_ *= step_;
    }
  }

 private:
  // 2 pi f n / rate reduced to one turn before it becomes an angle, so precision holds for any n.
  double Arg(std::size_t n) const {
    return std::fmod(freq_ * static_cast<double>(n), rate_) / rate_ * 6.283185307179586477;
  }
  void Reset() {
    count_ = 0;
    value_ = std::polar(1.0, Arg(n_) + phase0_);
  }
  double freq_, rate_, phase0_;
  std::size_t n_;
  std::complex<double> step_;
  std::complex<double> value_;
  int count_ = 0;
};

}  // namespace kelvane::receiver
