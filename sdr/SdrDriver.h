// SPDX-License-Identifier: GPL-3.0-or-later
// The waveform-device layer with the SDR transmitters after the sound-card outputs: output
// numbers below the sound card's count are its devices, unchanged; the ones after are SDRs,
// opened as queued playback devices whose block clock is the SDR writer.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "SdrDevice.h"
#include "WaveDevice.h"

namespace kelvane::sdr {

// Codes of SDR failures; ErrorText gives the driver's own message for the latest one.
inline constexpr WaveResult kSdrOpenFailed = 1001;
inline constexpr WaveResult kSdrStreamFailed = 1002;

class SdrWaveDriver final : public WaveDriver {
 public:
  // `base` (the sound card) must outlive this. The SDRs are looked for at once.
  explicit SdrWaveDriver(WaveDriver& base);
  // Looks for transmitters again (only while nothing is open on them).
  void Rescan();

  // The settings an SDR opens with at the next start (owner's thread, before Start).
  void SetConfig(const SdrConfig& config) { config_ = config; }
  // Whether output number `device` is an SDR; its entry, if so.
  bool IsSdr(int device) const;
  const SdrDeviceInfo* Sdr(int device) const;
  int SoundCardOutputs() { return base_.OutDeviceCount(); }
  // What the device read back at the last successful open.
  const SdrReport& LastReport() const { return report_; }

  int OutDeviceCount() override;
  int InDeviceCount() override { return base_.InDeviceCount(); }
  WaveResult OutDeviceName(int device, std::string& name) override;
  WaveResult InDeviceName(int device, std::string& name) override {
    return base_.InDeviceName(device, name);
  }
  WaveResult OpenOut(std::unique_ptr<WaveOutDevice>& out, unsigned device, const PcmFormat& format,
                     uint32_t blockBytes, int noticeFd) override;
  WaveResult OpenIn(std::unique_ptr<WaveInDevice>& out, unsigned device, const PcmFormat& format,
                    uint32_t blockBytes, int noticeFd) override {
    return base_.OpenIn(out, device, format, blockBytes, noticeFd);
  }
  std::string ErrorText(WaveResult code) override;
  WaveResult DeviceChannels(bool output, int device, int& inChannels, int& outChannels) override;
  bool RateSupported(bool output, int device, uint32_t rate) override;

  // The device tells the driver its failure text (owner's thread).
  void SetLastError(std::string text) { lastError_ = std::move(text); }

 private:
  WaveDriver& base_;
  std::vector<SdrDeviceInfo> sdrs_;
  SdrConfig config_;
  SdrReport report_;
  std::string lastError_;
};

// The window's and the player's driver: the sound card's with the SDRs after it, made on
// first use and kept for the process's life.
SdrWaveDriver& DefaultSdrDriver();

}  // namespace kelvane::sdr
