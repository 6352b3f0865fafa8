// SPDX-License-Identifier: GPL-3.0-or-later
// The engine's view of the settings in the command-line tools: fixed for the whole run, with a
// clock that advances with the frames the engine has made.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "ControlSource.h"
#include "SettingsFile.h"

namespace kelvane::cli {

class SettingsControls final : public ControlSource {
 public:
  SettingsControls(const SettingsValues& v, bool rdsOn) { Update(v, rdsOn); }
  // New values between blocks (a remote control, on the thread that runs the engine).
  void Update(const SettingsValues& v, bool rdsOn) {
    pi_ = v.rdsPI;
    ps_ = v.rdsPS;
    rt_ = v.rdsRT;
    snapshot_.params = v.params;
    snapshot_.stereo = v.stereo;
    snapshot_.rds = rdsOn;
    snapshot_.dcCoupled = v.dcCoupledDAC;
    snapshot_.programme = v.programme;
    SetMultipath(v.multipath);
  }
  // The RDS check box as a start leaves it (off below 192000 Hz).
  void SetRds(bool on) { snapshot_.rds = on; }
  bool Rds() const { return snapshot_.rds; }
  // The clock for the RDS clock time: UTC seconds at the run's first frame, the local offset
  // in half hours, and the frames of each block, which the engine asks for one at a time.
  void StartClock(double utcAtFirstFrame, int localOffsetHalfHours, int rate, int blockFrames) {
    clockStart_ = utcAtFirstFrame;
    snapshot_.localOffsetHalfHours = localOffsetHalfHours;
    rate_ = rate;
    blockFrames_ = blockFrames;
    frames_ = 0;
  }
  void ReadControls(ControlSnapshot& out) override {
    if (rate_ > 0) {
      // Whole seconds and the rest apart, so that hours of frames lose nothing to rounding.
      const std::int64_t whole = frames_ / rate_;
      snapshot_.clockUtc =
          clockStart_ + static_cast<double>(whole) +
          static_cast<double>(frames_ - whole * rate_) / static_cast<double>(rate_);
      frames_ += blockFrames_;
    }
    out = snapshot_;
  }
  std::size_t ReadPIText(char* out, std::size_t capacity) override {
    return Copy(pi_, out, capacity);
  }
  std::size_t ReadPSText(char* out, std::size_t capacity) override {
    return Copy(ps_, out, capacity);
  }
  std::size_t ReadRTText(char* out, std::size_t capacity) override {
    return Copy(rt_, out, capacity);
  }

 private:
  static std::size_t Copy(const std::string& text, char* out, std::size_t capacity) {
    std::memcpy(out, text.data(), std::min(text.size(), capacity));
    return text.size();
  }
  ControlSnapshot snapshot_;
  std::string pi_, ps_, rt_;
  double clockStart_ = 0.0;
  int rate_ = 0;
  std::int64_t blockFrames_ = 0;
  std::int64_t frames_ = 0;
};

}  // namespace kelvane::cli
