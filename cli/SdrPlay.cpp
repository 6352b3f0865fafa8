// SPDX-License-Identifier: GPL-3.0-or-later
// The player's preparation of an SDR output.
#include "SdrPlay.h"

#include "SdrDriver.h"

namespace kelvane::cli {

bool PrepareSdrOutput(int device, const SettingsValues& values, bool yes, std::string& error) {
  sdr::SdrWaveDriver& driver = sdr::DefaultSdrDriver();
  const sdr::SdrDeviceInfo* info = driver.Sdr(device);
  if (info == nullptr) return true;
  sdr::SdrConfig config;
  const sdr::SdrTexts texts{values.sdr.args, values.sdr.frequency, values.sdr.rate, values.sdr.gain,
                            values.sdr.antenna};
  if (!sdr::ReadSdrConfig(texts, config, error)) return false;
  if (!yes) {
    error = "\"" + info->label +
            "\" transmits on the air: add --yes to confirm (it needs a licence, or a shielded, "
            "cabled set-up with attenuators)";
    return false;
  }
  driver.SetConfig(config);
  return true;
}

std::string SdrReadBack(int device) {
  sdr::SdrWaveDriver& driver = sdr::DefaultSdrDriver();
  if (!driver.IsSdr(device)) return {};
  return driver.LastReport().Text();
}

}  // namespace kelvane::cli
