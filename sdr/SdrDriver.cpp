// SPDX-License-Identifier: GPL-3.0-or-later
// Sound-card outputs first, then the SDR transmitters.
#include "SdrDriver.h"

#include "SdrWriter.h"
#include "WaveQueue.h"

namespace kelvane::sdr {
namespace {

class WriterFactory final : public BlockClockFactory {
 public:
  WriterFactory(std::shared_ptr<OpenedSdr> sdr, int engineRate,
                std::shared_ptr<WriterStatus> status)
      : sdr_(std::move(sdr)), rate_(engineRate), status_(std::move(status)) {}
  WaveResult Create(std::unique_ptr<BlockClock>& out, BlockClient& client) override {
    // About 5 ms a turn: small enough to follow the queue closely, large enough for the
    // resampler to work efficiently.
    auto writer =
        std::make_unique<SdrWriter>(sdr_, client, rate_, std::max(rate_ / 200, 64), status_);
    if (!writer->Prepare(error)) return kSdrOpenFailed;
    out = std::move(writer);
    return wave::NoError;
  }
  std::string error;

 private:
  std::shared_ptr<OpenedSdr> sdr_;
  int rate_;
  std::shared_ptr<WriterStatus> status_;
};

// A queued playback device whose failures carry the writer's own words.
class SdrWaveOut final : public WaveOutDevice {
 public:
  SdrWaveOut(std::unique_ptr<QueuedWaveOut> inner, std::shared_ptr<WriterStatus> status,
             SdrWaveDriver& driver)
      : inner_(std::move(inner)), status_(std::move(status)), driver_(driver) {}
  WaveResult Prepare(WaveHeader& h) override { return inner_->Prepare(h); }
  void Reset() override { inner_->Reset(); }
  void Unprepare(WaveHeader& h) override { inner_->Unprepare(h); }
  void Close() override { inner_->Close(); }
  WaveHeader* TakeDone() override { return inner_->TakeDone(); }
  WaveResult Health() override { return Translate(inner_->Health()); }
  WaveResult Write(WaveHeader& h) override { return Translate(inner_->Write(h)); }
  void Pause() override { inner_->Pause(); }
  WaveResult Restart() override { return Translate(inner_->Restart()); }
  uint64_t Underruns() const override { return inner_->Underruns(); }
  void FadeOut(uint32_t frames) override { inner_->FadeOut(frames); }
  bool FadedOut() override { return inner_->FadedOut(); }

 private:
  WaveResult Translate(WaveResult r) {
    if (r == wave::NoError) return r;
    if (status_->failed.load(std::memory_order_acquire)) {
      driver_.SetLastError(status_->message);
      return kSdrStreamFailed;
    }
    if (r == wave::DeviceStalled) {
      driver_.SetLastError("the SDR stopped taking samples (no progress for two seconds)");
      return kSdrStreamFailed;
    }
    return r;
  }

  std::unique_ptr<QueuedWaveOut> inner_;
  std::shared_ptr<WriterStatus> status_;
  SdrWaveDriver& driver_;
};

}  // namespace

SdrWaveDriver::SdrWaveDriver(WaveDriver& base) : base_(base) {
  Rescan();
}

void SdrWaveDriver::Rescan() {
  sdrs_ = FindTransmitters();
}

bool SdrWaveDriver::IsSdr(int device) const {
  return Sdr(device) != nullptr;
}

const SdrDeviceInfo* SdrWaveDriver::Sdr(int device) const {
  const int k = device - const_cast<WaveDriver&>(base_).OutDeviceCount();
  if (device < 0 || k < 0 || k >= static_cast<int>(sdrs_.size())) return nullptr;
  return &sdrs_[static_cast<std::size_t>(k)];
}

int SdrWaveDriver::OutDeviceCount() {
  return base_.OutDeviceCount() + static_cast<int>(sdrs_.size());
}

WaveResult SdrWaveDriver::OutDeviceName(int device, std::string& name) {
  if (const SdrDeviceInfo* s = Sdr(device)) {
    name = s->label;
    return wave::NoError;
  }
  return base_.OutDeviceName(device, name);
}

WaveResult SdrWaveDriver::OpenOut(std::unique_ptr<WaveOutDevice>& out, unsigned device,
                                  const PcmFormat& format, uint32_t blockBytes, int noticeFd) {
  const SdrDeviceInfo* info = device == WaveMapper ? nullptr : Sdr(static_cast<int>(device));
  if (info == nullptr) return base_.OpenOut(out, device, format, blockBytes, noticeFd);
  if (format.channels != 2 || format.bitsPerSample != 16) return wave::BadFormat;
  std::string error;
  auto sdr = OpenedSdr::Open(*info, config_, format.samplesPerSec, error);
  if (!sdr) {
    lastError_ = error;
    return kSdrOpenFailed;
  }
  auto status = std::make_shared<WriterStatus>();
  WriterFactory factory(sdr, static_cast<int>(format.samplesPerSec), status);
  auto queued = std::make_unique<QueuedWaveOut>(format, noticeFd, blockBytes);
  if (queued->Attach(factory) != wave::NoError) {
    lastError_ = factory.error;
    return kSdrOpenFailed;
  }
  report_ = sdr->Report();
  out = std::make_unique<SdrWaveOut>(std::move(queued), status, *this);
  return wave::NoError;
}

std::string SdrWaveDriver::ErrorText(WaveResult code) {
  if (code == kSdrOpenFailed || code == kSdrStreamFailed) return lastError_;
  return base_.ErrorText(code);
}

WaveResult SdrWaveDriver::DeviceChannels(bool output, int device, int& inChannels,
                                         int& outChannels) {
  if (output && IsSdr(device)) {
    inChannels = 0;
    outChannels = 2;
    return wave::NoError;
  }
  return base_.DeviceChannels(output, device, inChannels, outChannels);
}

bool SdrWaveDriver::RateSupported(bool output, int device, uint32_t rate) {
  // Every engine rate is resampled to the device's own.
  if (output && IsSdr(device)) return true;
  return base_.RateSupported(output, device, rate);
}

SdrWaveDriver& DefaultSdrDriver() {
  static SdrWaveDriver driver(DefaultWaveDriver());
  return driver;
}

}  // namespace kelvane::sdr
