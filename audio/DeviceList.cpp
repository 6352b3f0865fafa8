// SPDX-License-Identifier: GPL-3.0-or-later
// Device lists and the device choice by saved name, then saved number.
#include "DeviceList.h"

namespace kelvane {

namespace {
std::vector<std::string> ListDevices(int count, WaveDriver& driver, bool output) {
  std::vector<std::string> names;
  if (count < 1) return names;
  names.reserve(static_cast<std::size_t>(count));
  for (int d = 0; d < count; ++d) {
    std::string name;
    const WaveResult r = output ? driver.OutDeviceName(d, name) : driver.InDeviceName(d, name);
    if (r != wave::NoError || name.empty()) name = "Device " + std::to_string(d);
    names.push_back(std::move(name));
  }
  return names;
}

char UpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  }
  return true;
}
}  // namespace

std::vector<std::string> GetWaveOutDevices(WaveDriver& driver) {
  return ListDevices(driver.OutDeviceCount(), driver, true);
}

std::vector<std::string> GetWaveInDevices(WaveDriver& driver) {
  return ListDevices(driver.InDeviceCount(), driver, false);
}

std::vector<DeviceCaps> GetDeviceCaps(bool output, WaveDriver& driver) {
  static constexpr int kRates[] = {44100, 48000, 96000, 192000};
  std::vector<DeviceCaps> caps;
  const auto names = output ? GetWaveOutDevices(driver) : GetWaveInDevices(driver);
  for (std::size_t d = 0; d < names.size(); ++d) {
    DeviceCaps c;
    c.name = names[d];
    const int device = static_cast<int>(d);
    driver.DeviceChannels(output, device, c.inputChannels, c.outputChannels);
    for (const int rate : kRates) {
      if (driver.RateSupported(output, device, static_cast<uint32_t>(rate)))
        c.rates.push_back(rate);
    }
    caps.push_back(std::move(c));
  }
  return caps;
}

int FindItemIndex(const std::vector<std::string>& list, const std::string& name, int fallback) {
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (SameName(list[i], name)) return static_cast<int>(i);
  }
  return fallback;
}

}  // namespace kelvane
