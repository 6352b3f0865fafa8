// SPDX-License-Identifier: GPL-3.0-or-later
// What the remote control drives: implemented by the window and by the headless player, and
// always called on the owner's thread, so the engine's state needs no locking for it.
#pragma once

#include <string>

#include "SettingsFile.h"

namespace kelvane::remote {

// The read-outs as the owner shows them.
struct Readings {
  std::string deviation_kHz = "0.0";   // the peak deviation of the last whole second
  std::string power_dBr = "-90.0";     // the MPX power read-out
  bool powerFinal = false;             // shown green: a full second measured since the last change
  float levelL = 0.0F, levelR = 0.0F;  // input peak levels of the last block, full scale 1
};

class Instrument {
 public:
  virtual ~Instrument() = default;
  // The current value of every setting, as a save would write it.
  virtual SettingsValues Settings() const = 0;
  // Takes every value of `values` (the remote changes one key at a time); what needs a new
  // start (rate, buffer length, source, devices) acts from the next start. False with a
  // one-line reason when refused.
  virtual bool ApplySettings(const SettingsValues& values, std::string& error) = 0;
  virtual bool Output() const = 0;
  // Starts or stops the run; false with a one-line reason when a start fails.
  virtual bool SetOutput(bool on, std::string& error) = 0;
  virtual Readings Measure() const = 0;
  // The settings file in use (--settings, KELVANE_SETTINGS or the default).
  virtual std::string SettingsPath() const = 0;
  virtual std::string Version() const = 0;
};

}  // namespace kelvane::remote
