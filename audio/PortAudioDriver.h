// SPDX-License-Identifier: GPL-3.0-or-later
// The waveform-device driver on PortAudio: device lists, block clocks, silenced diagnostics.
#pragma once

#include <string>
#include <vector>

#include "WaveDevice.h"

namespace kelvane {

class PortAudioDriver final : public WaveDriver {
 public:
  PortAudioDriver();
  ~PortAudioDriver() override;
  PortAudioDriver(const PortAudioDriver&) = delete;
  PortAudioDriver& operator=(const PortAudioDriver&) = delete;

  int OutDeviceCount() override;
  int InDeviceCount() override;
  WaveResult OutDeviceName(int device, std::string& name) override;
  WaveResult InDeviceName(int device, std::string& name) override;
  WaveResult OpenOut(std::unique_ptr<WaveOutDevice>& out, unsigned device, const PcmFormat& format,
                     uint32_t blockBytes, int noticeFd) override;
  WaveResult OpenIn(std::unique_ptr<WaveInDevice>& out, unsigned device, const PcmFormat& format,
                    uint32_t blockBytes, int noticeFd) override;
  std::string ErrorText(WaveResult code) override;
  WaveResult DeviceChannels(bool output, int device, int& inChannels, int& outChannels) override;
  bool RateSupported(bool output, int device, uint32_t rate) override;

 private:
  bool Ready();
  int PaIndex(bool output, unsigned device);

  bool initialised_ = false;
  int initError_ = 0;
  std::vector<int> outDevices_;  // PortAudio index of each output device number
  std::vector<int> inDevices_;
};

// Routes ALSA's and JACK's own diagnostics to nowhere, so that users only see our messages.
void SilenceAudioDiagnostics();

}  // namespace kelvane
