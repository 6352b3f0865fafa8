// SPDX-License-Identifier: GPL-3.0-or-later
// SoapySDR transmitters: finding them, and opening one with the user's settings. Nothing here
// transmits: the stream is set up but activated only by the writer at the start of a run.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace SoapySDR {
class Device;
class Stream;
}  // namespace SoapySDR

namespace kelvane::sdr {

// One device that can transmit: the list label ("SDR: " + its label) and the arguments that
// find it again (SoapySDR key=value markup).
struct SdrDeviceInfo {
  std::string label;
  std::string args;
};

// Every enumerated device with at least one transmit channel. Never throws; a driver that
// fails while being asked is left out.
std::vector<SdrDeviceInfo> FindTransmitters();

inline constexpr const char* kSdrPrefix = "SDR: ";

// The user's settings, from the SDR keys of the settings file (empty text: not set).
struct SdrConfig {
  std::string args;  // key=value,... merged over the listed device's own
  double centre_Hz = 0.0;
  double rate = 0.0;              // 0: the device's first rate of at least 8 x the engine rate
  std::optional<double> gain_dB;  // none: the device's minimum
  std::string antenna;            // empty: the device's default
};

// Reads the SDR keys' texts (as the settings file holds them) into a config; false with a
// message naming the key when the centre frequency is not set.
struct SdrTexts {
  std::string args, frequency, rate, gain, antenna;
};
bool ReadSdrConfig(const SdrTexts& texts, SdrConfig& config, std::string& error);

// What the device says it was set to, read back after the settings went in.
struct SdrReport {
  std::string label;
  double rate = 0.0;
  double centre_Hz = 0.0;
  double gain_dB = 0.0;
  std::string antenna;
  std::string Text() const;  // one line for people
};

// An opened and configured transmitter with its transmit stream set up (not active). Owned
// through a shared_ptr so that a writer thread cut loose from a device that no longer answers
// can release it when it returns.
class OpenedSdr {
 public:
  ~OpenedSdr();
  OpenedSdr(const OpenedSdr&) = delete;
  OpenedSdr& operator=(const OpenedSdr&) = delete;

  // Opens `device` (its args plus config.args), sets rate, frequency, gain and antenna, and
  // sets up a CF32 transmit stream on channel 0. Null with a one-line `error` on failure.
  static std::shared_ptr<OpenedSdr> Open(const SdrDeviceInfo& device, const SdrConfig& config,
                                         double engineRate, std::string& error);

  SoapySDR::Device& Device() { return *device_; }
  SoapySDR::Stream* Stream() const { return stream_; }
  const SdrReport& Report() const { return report_; }
  bool active = false;  // the writer thread's: stream activated

 private:
  OpenedSdr() = default;
  SoapySDR::Device* device_ = nullptr;
  SoapySDR::Stream* stream_ = nullptr;
  SdrReport report_;
};

// The rate to run the device at: `wanted` if it lies in one of the ranges, else none; with
// wanted 0 the lowest rate of at least 8 x engineRate the ranges allow, else their highest.
struct RateRange {
  double minimum, maximum, step;
};
std::optional<double> ChooseDeviceRate(const std::vector<RateRange>& ranges, double wanted,
                                       double engineRate);

}  // namespace kelvane::sdr
