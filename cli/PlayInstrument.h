// SPDX-License-Identifier: GPL-3.0-or-later
// The headless player as a remote-controlled instrument: its settings feed the engine from the
// next block, and the player's loop does the starting, stopping and metering.
#pragma once

#include <functional>
#include <string>
#include <utility>

#include "Instrument.h"
#include "SettingsControls.h"

namespace kelvane::cli {

class PlayInstrument final : public remote::Instrument {
 public:
  PlayInstrument(SettingsValues& values, SettingsControls& controls, std::string settingsPath,
                 std::string version)
      : values_(values),
        controls_(controls),
        path_(std::move(settingsPath)),
        version_(std::move(version)) {}

  // Set by the player: start or stop the run (false with a reason), and whether it runs.
  std::function<bool(bool on, std::string& error)> setOutput;
  std::function<bool()> running;
  // The read-outs the player shows, kept current by it.
  remote::Readings readings;
  // RDS as the running start allowed it (only at 192000 Hz).
  bool rdsAllowed = true;

  SettingsValues Settings() const override { return values_; }
  bool ApplySettings(const SettingsValues& v, std::string& /*error*/) override {
    values_ = v;
    controls_.Update(v, v.rds && rdsAllowed);
    return true;
  }
  bool Output() const override { return running && running(); }
  bool SetOutput(bool on, std::string& error) override {
    if (!setOutput) {
      error = "this player cannot start";
      return false;
    }
    return setOutput(on, error);
  }
  remote::Readings Measure() const override { return readings; }
  std::string SettingsPath() const override { return path_; }
  std::string Version() const override { return version_; }

 private:
  SettingsValues& values_;
  SettingsControls& controls_;
  std::string path_;
  std::string version_;
};

}  // namespace kelvane::cli
