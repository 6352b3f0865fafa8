// SPDX-License-Identifier: GPL-3.0-or-later
// Device lists in device-number order, and the by-name-then-number choice of a device.
#pragma once

#include <string>
#include <vector>

#include "WaveDevice.h"

namespace kelvane {

// One entry per device number, in order, so that a list position is the number to open. A
// device whose name cannot be read is listed as "Device N".
std::vector<std::string> GetWaveOutDevices(WaveDriver& driver = DefaultWaveDriver());
std::vector<std::string> GetWaveInDevices(WaveDriver& driver = DefaultWaveDriver());

// What `devices --json` tells of a device: its channels and the sampling rates it takes.
struct DeviceCaps {
  std::string name;
  int inputChannels = 0;
  int outputChannels = 0;
  std::vector<int> rates;  // of the program's four, those the device accepts
};
std::vector<DeviceCaps> GetDeviceCaps(bool output, WaveDriver& driver = DefaultWaveDriver());

// Position of `name` in `list` comparing with only the letters a-z folded to A-Z; else fallback.
int FindItemIndex(const std::vector<std::string>& list, const std::string& name, int fallback);

}  // namespace kelvane
