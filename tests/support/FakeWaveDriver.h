// SPDX-License-Identifier: GPL-3.0-or-later
// A scripted waveform-device driver for stream tests: records every call, fails on request and
// returns queued buffers only when the test says so.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "WaveDevice.h"

namespace kelvane::testing {

class FakeWaveDriver;

class FakeDeviceBase {
 public:
  FakeDeviceBase(FakeWaveDriver& driver, int fd) : driver_(driver), fd_(fd) {}
  void Signal() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(fd_, &one, sizeof one);
  }

 protected:
  FakeWaveDriver& driver_;
  int fd_;
};

class FakeWaveDriver final : public WaveDriver {
 public:
  // Script: result of the open calls; which prepare / write / add call (0-based, counted over
  // the driver's life) fails and with what code; result of starting a device (the capture
  // start, the playback restart); device health.
  WaveResult openResult = wave::NoError;
  int failPrepareAt = -1;
  int failWriteAt = -1;
  int failAddAt = -1;
  WaveResult failCode = wave::InvalidParam;
  WaveResult startResult = wave::NoError;
  WaveResult health = wave::NoError;
  std::vector<std::string> outNames{"Speakers", "Line out"};
  std::vector<std::string> inNames{"Microphone"};
  int failNameAt = -1;

  // What happened.
  std::vector<std::string> log;
  std::vector<WaveHeader*> writes;     // every header handed over, in order
  std::vector<uint32_t> writeLengths;  // its length at that moment
  std::deque<WaveHeader*> queued;      // held by the (fake) device
  std::deque<WaveHeader*> done;        // returned, not yet taken by the stream
  int prepareCalls = 0, writeCalls = 0, addCalls = 0;
  unsigned openedDevice = 0;
  alignas(4) PcmFormat openedFormat{};
  uint32_t openedBlockBytes = 0;
  FakeDeviceBase* live = nullptr;

  int OutDeviceCount() override { return static_cast<int>(outNames.size()); }
  int InDeviceCount() override { return static_cast<int>(inNames.size()); }
  WaveResult OutDeviceName(int device, std::string& name) override {
    return Name(outNames, device, name);
  }
  WaveResult InDeviceName(int device, std::string& name) override {
    return Name(inNames, device, name);
  }
  WaveResult OpenOut(std::unique_ptr<WaveOutDevice>& out, unsigned device, const PcmFormat& format,
                     uint32_t blockBytes, int noticeFd) override;
  WaveResult OpenIn(std::unique_ptr<WaveInDevice>& out, unsigned device, const PcmFormat& format,
                    uint32_t blockBytes, int noticeFd) override;
  std::string ErrorText(WaveResult code) override { return "fake error " + std::to_string(code); }

  // Device side: the oldest `n` queued buffers finish (capture buffers get `fill` bytes of
  // recorded data, each byte = the buffer's sequence number).
  void Complete(int n, uint32_t recordedBytes = 0) {
    for (int i = 0; i < n && !queued.empty(); ++i) {
      WaveHeader* h = queued.front();
      queued.pop_front();
      if (recordedBytes > 0) {
        h->bytesRecorded = recordedBytes;
        for (uint32_t b = 0; b < h->bufferLength; ++b) h->data[b] = static_cast<uint8_t>(seq_);
      }
      ++seq_;
      h->flags = (h->flags & ~WhdrInQueue) | WhdrDone;
      done.push_back(h);
    }
    if (live != nullptr) live->Signal();
  }
  int Count(const std::string& call) const {
    int c = 0;
    for (const auto& entry : log) c += entry == call ? 1 : 0;
    return c;
  }
  int IndexOf(const std::string& call) const {
    for (std::size_t i = 0; i < log.size(); ++i) {
      if (log[i] == call) return static_cast<int>(i);
    }
    return -1;
  }
  // Fill byte of the latest completed capture buffer (see Complete).
  uint8_t LastSequence() const { return static_cast<uint8_t>(seq_ - 1); }

 private:
  WaveResult Name(const std::vector<std::string>& names, int device, std::string& name) {
    name.clear();
    if (device < 0 || device >= static_cast<int>(names.size())) return wave::BadDeviceId;
    if (device == failNameAt) return wave::Error;
    name = names[static_cast<std::size_t>(device)];
    return wave::NoError;
  }
  unsigned seq_ = 0;
};

class FakeWaveOut final : public WaveOutDevice, public FakeDeviceBase {
 public:
  using FakeDeviceBase::FakeDeviceBase;
  ~FakeWaveOut() override {
    driver_.live = nullptr;
    driver_.queued.clear();
    driver_.done.clear();
  }
  WaveResult Prepare(WaveHeader& h) override {
    driver_.log.push_back("prepare");
    if (driver_.prepareCalls++ == driver_.failPrepareAt) return driver_.failCode;
    h.flags |= WhdrPrepared;
    return wave::NoError;
  }
  WaveResult Write(WaveHeader& h) override {
    driver_.log.push_back("write");
    if (driver_.writeCalls++ == driver_.failWriteAt) return driver_.failCode;
    driver_.writes.push_back(&h);
    driver_.writeLengths.push_back(h.bufferLength);
    h.flags |= WhdrInQueue;
    driver_.queued.push_back(&h);
    return wave::NoError;
  }
  void Pause() override { driver_.log.push_back("pause"); }
  WaveResult Restart() override {
    driver_.log.push_back("restart");
    return driver_.startResult;
  }
  void Reset() override {
    driver_.log.push_back("reset");
    driver_.Complete(static_cast<int>(driver_.queued.size()));
  }
  void Unprepare(WaveHeader&) override { driver_.log.push_back("unprepare"); }
  void Close() override { driver_.log.push_back("close"); }
  WaveHeader* TakeDone() override {
    if (driver_.done.empty()) return nullptr;
    WaveHeader* h = driver_.done.front();
    driver_.done.pop_front();
    return h;
  }
  WaveResult Health() override { return driver_.health; }
  uint64_t Underruns() const override { return 0; }
};

class FakeWaveIn final : public WaveInDevice, public FakeDeviceBase {
 public:
  using FakeDeviceBase::FakeDeviceBase;
  ~FakeWaveIn() override {
    driver_.live = nullptr;
    driver_.queued.clear();
    driver_.done.clear();
  }
  WaveResult Prepare(WaveHeader& h) override {
    driver_.log.push_back("prepare");
    if (driver_.prepareCalls++ == driver_.failPrepareAt) return driver_.failCode;
    h.flags |= WhdrPrepared;
    return wave::NoError;
  }
  WaveResult AddBuffer(WaveHeader& h) override {
    driver_.log.push_back("add");
    if (driver_.addCalls++ == driver_.failAddAt) return driver_.failCode;
    driver_.writes.push_back(&h);
    driver_.writeLengths.push_back(h.bufferLength);
    driver_.queued.push_back(&h);
    return wave::NoError;
  }
  WaveResult Start() override {
    driver_.log.push_back("start");
    return driver_.startResult;
  }
  void Reset() override {
    driver_.log.push_back("reset");
    driver_.Complete(static_cast<int>(driver_.queued.size()));
  }
  void Unprepare(WaveHeader&) override { driver_.log.push_back("unprepare"); }
  void Close() override { driver_.log.push_back("close"); }
  WaveHeader* TakeDone() override {
    if (driver_.done.empty()) return nullptr;
    WaveHeader* h = driver_.done.front();
    driver_.done.pop_front();
    return h;
  }
  WaveResult Health() override { return driver_.health; }
  uint64_t Overruns() const override { return 0; }
};

inline WaveResult FakeWaveDriver::OpenOut(std::unique_ptr<WaveOutDevice>& out, unsigned device,
                                          const PcmFormat& format, uint32_t blockBytes,
                                          int noticeFd) {
  log.push_back("open");
  openedDevice = device;
  openedFormat = format;
  openedBlockBytes = blockBytes;
  if (openResult != wave::NoError) return openResult;
  // A device that has gone since the list was read (clear outNames to unplug them all).
  if (device != WaveMapper && device >= outNames.size()) return wave::BadDeviceId;
  auto dev = std::make_unique<FakeWaveOut>(*this, noticeFd);
  live = dev.get();
  out = std::move(dev);
  return wave::NoError;
}

inline WaveResult FakeWaveDriver::OpenIn(std::unique_ptr<WaveInDevice>& out, unsigned device,
                                         const PcmFormat& format, uint32_t blockBytes,
                                         int noticeFd) {
  log.push_back("open");
  openedDevice = device;
  openedFormat = format;
  openedBlockBytes = blockBytes;
  if (openResult != wave::NoError) return openResult;
  auto dev = std::make_unique<FakeWaveIn>(*this, noticeFd);
  live = dev.get();
  out = std::move(dev);
  return wave::NoError;
}

}  // namespace kelvane::testing
