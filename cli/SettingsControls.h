// The engine's view of the settings in the command-line tools: fixed for the whole run.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>

#include "ControlSource.h"
#include "SettingsFile.h"

namespace kelvane::cli {

class SettingsControls final : public ControlSource {
 public:
  SettingsControls(const SettingsValues& v, bool rdsOn) : pi_(v.rdsPI), ps_(v.rdsPS) {
    snapshot_.params = v.params;
    snapshot_.stereo = v.stereo;
    snapshot_.rds = rdsOn;
    snapshot_.dcCoupled = v.dcCoupledDAC;
    SetMultipath(v.multipath);
  }
  // The RDS check box as a start leaves it (off below 192000 Hz).
  void SetRds(bool on) { snapshot_.rds = on; }
  bool Rds() const { return snapshot_.rds; }
  void ReadControls(ControlSnapshot& out) override { out = snapshot_; }
  std::size_t ReadPIText(char* out, std::size_t capacity) override {
    return Copy(pi_, out, capacity);
  }
  std::size_t ReadPSText(char* out, std::size_t capacity) override {
    return Copy(ps_, out, capacity);
  }

 private:
  static std::size_t Copy(const std::string& text, char* out, std::size_t capacity) {
    std::memcpy(out, text.data(), std::min(text.size(), capacity));
    return text.size();
  }
  ControlSnapshot snapshot_;
  std::string pi_, ps_;
};

}  // namespace kelvane::cli
